// The station's HTTP interface: the JSON API under /api/ (docs/station-api.md), the event stream,
// and the page with its assets. The handlers check what they are given as krt42 checks its
// arguments, start jobs on the tray and read its snapshots; none of them touches a port.
#pragma once

#include <atomic>
#include <string>

#include "station/Access.h"
#include "station/Events.h"
#include "station/Tray.h"
#include "tray/History.h"

namespace httplib {
class Server;
}

namespace station {

struct Context {
    Tray& tray;
    Events& events;
    tray::History& history;  // for reading: the station's own, not the tray's writer
    const Access& access;
    std::string stateDir;
    std::atomic<int> streams{0};  // event streams open now
};

// The most event streams at once, and the largest bodies.
constexpr int MAX_STREAMS = 32;
constexpr size_t MAX_CONFIGURATION_BYTES = 1u << 20;
constexpr size_t MAX_SMALL_BODY_BYTES = 64u << 10;

void InstallRoutes(httplib::Server& server, Context& context);

}  // namespace station
