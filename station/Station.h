// The station: `krt42 serve`, a tray of adapters served over HTTP from the line's own host.
#pragma once

#include "tray/Server.h"

namespace station {

// Serves the tray until SIGINT or SIGTERM; the exit code.
int Serve(const tray::ServeSettings& settings);

}  // namespace station
