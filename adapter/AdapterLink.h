// The configurator's side of the adapter link, as its main window holds it: the link state
// and the four parts that share it (the frame codec, the parameter exchange, the speed search,
// the link timer). The window forwards its timer ticks, link messages and commands here.
#pragma once

#include <cstdint>

#include "adapter/AdapterSearch.h"
#include "adapter/FrameCodec.h"
#include "adapter/LinkHost.h"
#include "adapter/LinkState.h"
#include "adapter/LinkTimer.h"
#include "adapter/ParamExchange.h"
#include "adapter/ParamTable.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"

namespace adapter {

class AdapterLink {
  public:
    AdapterLink(LinkHost& host, ParamTable* table, serial::ComDriver& com, portselect::Selection& selection);
    AdapterLink(const AdapterLink&) = delete;
    AdapterLink& operator=(const AdapterLink&) = delete;

    // The main window's start-up: the link back to its start values, no port and no speed
    // chosen, both buttons disabled.
    void ResetForStart();

    void OnLinkTimer() { timer.OnLinkTimer(); }
    bool HandleLinkMessage(uint32_t message) { return search.HandleLinkMessage(message); }
    void StartAdapterSearch() { search.StartAdapterSearch(); }
    void StartParameterRead() { exchange.StartParameterRead(); }

    LinkState state;
    FrameCodec codec;
    ParamExchange exchange;
    AdapterSearch search;
    LinkTimer timer;

  private:
    LinkHost& host_;
    portselect::Selection& selection_;
};

}  // namespace adapter
