// krt42 write: one value into one row, with the configurator's own write request.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"

namespace cli {

namespace {

using namespace tray;

int RunWrite(const Arguments& a) {
    PortRuns runs(a, "write", false);
    if (const int code = runs.Gather(false)) return code;
    if (a.rest.size() != 2) return Usage("write takes ROW and VALUE");
    const int row = RowOfName(a.rest[0]);
    if (row < 0) return Usage("unknown row " + a.rest[0] + " (0..103 or PARAM[:INDEX])");
    std::string ansi, error;
    if (!UsableValue(a.rest[1], &ansi, &error, row)) return Usage(error);
    if (const int code = runs.Prepare()) return code;
    return runs.Run([&](PortRun& p, PortWork& work) -> int {
        WriteReport report;
        const Outcome written = work.Write(a.speed, row, ansi, &report);
        std::string param, index;
        RowNames(row, &param, &index);
        p.record.speed = work.Speed();
        p.record.rows.push_back({row, param, index, std::string(), a.rest[1],
                                 written.exit == EXIT_OK ? std::string("written") : written.message});
        if (written.exit == EXIT_OK) return int{EXIT_OK};
        return written.message.empty() ? written.exit : p.Fail(written.exit, written.message);
    });
}

}  // namespace

const Command WRITE_COMMAND = {
    "write",
    "write one value; ROW: 0..103, 003, 052:07",
    {{"--port", true, true}, {"--speed", false}, {"--trace", false}, {"--history", false}},
    "[--] ROW VALUE",
    RunWrite};

}  // namespace cli
