// The station, as krt42 serve starts it. The station registers itself here where it is built (a
// Linux build); the command line reaches it only through this, and neither includes the other.
#pragma once

#include <string>
#include <vector>

namespace tray {

struct ServeSettings {
    std::vector<std::string> ports;  // the tray: exactly these, never any other
    std::string listen;              // ADDRESS:PORT
    std::string stateDir;            // the history, the token
    std::string tokenFile;           // "" for STATE/token
};

// Runs the station until a signal ends it; the exit code.
using ServeFunction = int (*)(const ServeSettings& settings);

// Where the station is built, it registers itself at start; null where it is not.
ServeFunction Server();
bool RegisterServer(ServeFunction serve);

}  // namespace tray
