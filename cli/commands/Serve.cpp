// krt42 serve: the station, a tray of adapters served over HTTP from the line's own host.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"
#include "tray/Platform.h"
#include "tray/Server.h"

namespace cli {

namespace {

using namespace tray;

int RunServe(const Arguments& a) {
    if (Server() == nullptr) return Usage("serve is not available here: the station is built for Linux only");
    PortRuns runs(a, "serve", false);
    if (const int code = runs.Gather(true)) return code;
    if (!a.rest.empty()) return Usage("unexpected " + a.rest[0]);
    ServeSettings settings;
    settings.ports = runs.Ports();
    settings.listen = a.listen.empty() ? "127.0.0.1:8042" : a.listen;
    settings.stateDir = a.state.empty() ? DefaultStateDir() : a.state;
    settings.tokenFile = a.tokenFile;
    return Server()(settings);
}

}  // namespace

const Command SERVE_COMMAND = {"serve",
                               "the station: the ports on a web page",
                               {{"--port", true},
                                {"--ports-from", false},
                                {"--listen", false},
                                {"--state", false},
                                {"--token-file", false}},
                               "",
                               RunServe};

}  // namespace cli
