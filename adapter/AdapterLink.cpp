#include "adapter/AdapterLink.h"

namespace adapter {

AdapterLink::AdapterLink(LinkHost& host, ParamTable* table, serial::ComDriver& com,
                         portselect::Selection& selection)
    : codec(state, com),
      exchange(state, codec, host, table),
      search(state, codec, exchange, host, com, selection),
      timer(state, codec, host, com),
      host_(host),
      selection_(selection) {
    codec.SetHandlers(&exchange);
}

void AdapterLink::ResetForStart() {
    state.RxPending = 0;
    state.DlePending = 0;
    state.FramePos = 0;
    state.TimeoutState = Idle;
    state.TimeoutTicks = 0;
    state.LineSpeed = 4800;
    host_.EnableReadButton(false);
    host_.EnablePortButton(false);
    selection_.SelectedSpeedIndex = -1;
    state.RxCount = 0;
    selection_.SelectedPortIndex = -1;
    state.ParamIndex = -1;
    state.TailStage = 0;
}

}  // namespace adapter
