#include "station/Log.h"

#include <cstdio>
#include <mutex>

namespace station {

void Log(const std::string& line) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fprintf(stderr, "krt42 station: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace station
