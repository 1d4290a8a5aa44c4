// krt42 ports: the machine's serial ports, one usable name a line.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"
#include "tray/Platform.h"

namespace cli {

namespace {

int RunPorts(const Arguments& a) {
    if (!a.rest.empty()) return Usage("ports takes nothing more");
    std::string list;
    for (const std::string& name : tray::ListPorts()) list += name + "\n";
    return DataOutput::Put(list) ? tray::EXIT_OK : tray::EXIT_FAILED;
}

}  // namespace

const Command PORTS_COMMAND = {"ports", "list the serial ports", {}, "", RunPorts};

}  // namespace cli
