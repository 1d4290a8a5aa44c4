// The speed search for the adapter, the link timer and the link messages of the main window.
#pragma once

#include <cstdint>

#include "adapter/FrameCodec.h"
#include "adapter/LinkHost.h"
#include "adapter/LinkState.h"
#include "adapter/ParamExchange.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"

namespace adapter {

class AdapterSearch {
  public:
    AdapterSearch(LinkState& state, FrameCodec& codec, ParamExchange& exchange, LinkHost& host,
                  serial::ComDriver& com, portselect::Selection& selection)
        : s_(state), codec_(codec), exchange_(exchange), host_(host), com_(com), selection_(selection) {}

    // Reopens the selected port at `speed`; returns COM_OPEN's result.
    serial::ComResult OpenPortAt(int speed);
    void StartAdapterSearch();
    // The 20 ms tick: counts down the link state and reads what has arrived.
    void OnLinkTimer();
    // The link part of the main window's pre-translation: true for each link message.
    bool HandleLinkMessage(uint32_t message);

  private:
    int CurrentPortNumber() const;

    LinkState& s_;
    FrameCodec& codec_;
    ParamExchange& exchange_;
    LinkHost& host_;
    serial::ComDriver& com_;
    portselect::Selection& selection_;
};

}  // namespace adapter
