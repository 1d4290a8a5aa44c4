// The link timer: the configurator's 20 ms tick. It counts down the link state (each step of the
// speed search, the wait for the answer to a request, the "done" notice), says what the end of
// each countdown leads to, and reads what has arrived. How long each state lasts is decided where
// the state is entered; the two waits that are not part of the search's schedule are here.
#pragma once

#include <cstdint>

#include "adapter/FrameCodec.h"
#include "adapter/LinkHost.h"
#include "adapter/LinkState.h"
#include "serial/ComDriver.h"

namespace adapter {

// How long a request waits for its answer (AwaitAnswer): 2 s of link ticks.
constexpr int32_t ANSWER_TIMEOUT_TICKS = 100;
// How long "Получение данных закончено" stays on show after a read (DoneNotice): 3 s.
constexpr int32_t DONE_NOTICE_TICKS = 150;

class LinkTimer {
  public:
    LinkTimer(LinkState& state, FrameCodec& codec, LinkHost& host, serial::ComDriver& com)
        : s_(state), codec_(codec), host_(host), com_(com) {}

    // One tick: a frame kept back goes out, the countdown of the link state runs, and a chunk
    // that has arrived is read unless the last one is still being handled.
    void OnLinkTimer();

  private:
    void CountDown();
    void TakeInput();

    LinkState& s_;
    FrameCodec& codec_;
    LinkHost& host_;
    serial::ComDriver& com_;
};

}  // namespace adapter
