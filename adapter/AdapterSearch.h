// The speed search for the adapter and the link messages of the main window. The link timer,
// which counts the search's steps down, is LinkTimer.
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

    // Reopens the selected port at `speed`; returns COM_OPEN's result. A failed open is shown
    // in the status bar and reported to the host's PortOpenFailed.
    serial::ComResult OpenPortAt(int speed);
    void StartAdapterSearch();
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
