// krt42 find: the configurator's speed search on each port.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"

namespace cli {

namespace {

using namespace tray;

int RunFind(const Arguments& a) {
    PortRuns runs(a, "find", false);
    if (const int code = runs.Gather(true)) return code;
    if (!a.rest.empty()) return Usage("unexpected " + a.rest[0]);
    // Data that would go nowhere is a failure to tell before anything is sent, not after.
    if (!DataOutput::Put(std::string())) return EXIT_FAILED;  // main says why
    if (const int code = runs.Prepare()) return code;
    return runs.Run([](PortRun& p, PortWork& work) -> int {
        int speed = 0;
        const Outcome found = work.Find(&speed);
        p.record.speed = speed;
        switch (found.exit) {
            case EXIT_OK:
                p.record.result = "KRT42 at " + std::to_string(speed) + " bit/s";
                return DataOutput::Put(p.Name() + ": KRT42 at " + std::to_string(speed) + " bit/s\n")
                           ? EXIT_OK
                           : EXIT_FAILED;
            case EXIT_NO_ADAPTER:
                // Not a failure of krt42's own: the answer to the question, on standard output.
                p.record.result = found.message;
                return DataOutput::Put(found.message + "\n") ? EXIT_NO_ADAPTER : EXIT_FAILED;
            default:
                return found.message.empty() ? found.exit : p.Fail(found.exit, found.message);
        }
    });
}

}  // namespace

const Command FIND_COMMAND = {
    "find",
    "find the KRT42 on P, trying 1200 .. 115200 bit/s",
    {{"--port", true}, {"--ports-from", false}, {"--trace", false}, {"--history", false}},
    "",
    RunFind};

}  // namespace cli
