#include "adapter/LinkTimer.h"

namespace adapter {

namespace {

// The message posted when the countdown of a state runs out: the next search step, the
// search's end or the missing answer; 0 for every other state.
uint32_t ExpiryMessage(int8_t state) {
    switch (state) {
        case Search1200:
            return CM_SEARCH_2400;
        case Search2400:
            return CM_SEARCH_4800;
        case Search4800:
            return CM_SEARCH_9600;
        case Search9600:
            return CM_SEARCH_19200;
        case Search19200:
            return CM_SEARCH_38400;
        case Search38400:
            return CM_SEARCH_57600;
        case Search57600:
            return CM_SEARCH_115200;
        case Search115200:
            return CM_SEARCH_FAILED;
        case AwaitAnswer:
            return CM_NO_ANSWER;
        default:
            return 0;
    }
}

}  // namespace

void LinkTimer::OnLinkTimer() {
    // A frame kept back while the previous write was going out leaves before anything else.
    codec_.FlushDueFrames();
    CountDown();
    TakeInput();
}

void LinkTimer::CountDown() {
    const int8_t state = s_.TimeoutState;
    const uint32_t expiry = ExpiryMessage(state);
    if (expiry == 0 && state != DoneNotice) {
        // Idle, or a state nothing counts down: nothing is pending.
        s_.TimeoutState = Idle;
        return;
    }
    if (s_.TimeoutTicks > 0) --s_.TimeoutTicks;
    // A countdown that is already out (or was never set) ends at this tick rather than leaving
    // the state stuck.
    if (s_.TimeoutTicks > 0) return;
    s_.TimeoutTicks = 0;
    s_.TimeoutState = Idle;
    if (state == DoneNotice) {
        host_.SetStatusText(0, " ");
    } else {
        host_.PostLinkMessage(expiry);
    }
}

void LinkTimer::TakeInput() {
    if (s_.RxPending != 0) return;
    int count = 0;
    com_.ComDriverCall(serial::COM_READ, &count, s_.RxChunk);
    s_.RxCount = count > 0 ? count : 0;
    if (s_.RxCount != 0) {
        s_.RxPending = 1;
        host_.PostLinkMessage(CM_RECEIVED);
    }
}

}  // namespace adapter
