// The absolute CLOCK_MONOTONIC time a timed wait of the thread and event classes ends at.
#pragma once

#include <time.h>

#include <cstdint>

namespace fw {

inline timespec DeadlineAfter(uint32_t timeoutMs) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    ts.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

}  // namespace fw
