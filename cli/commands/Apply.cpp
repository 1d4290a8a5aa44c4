// krt42 apply: writes the rows that differ from a configuration file, in row order, and reads them
// back.
#include <algorithm>

#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"

namespace cli {

namespace {

using namespace tray;

int RunApply(const Arguments& a) {
    PortRuns runs(a, "apply", false);
    if (const int code = runs.Gather(true)) return code;
    if (!DataOutput::Put(std::string())) return EXIT_FAILED;  // main says why
    Configuration file;
    std::vector<bool> rows;
    if (const int code = ReadConfiguration(a, true, &file, &rows)) return code;
    if (const int code = runs.Prepare()) return code;
    return runs.Run([&](PortRun& p, PortWork& work) -> int {
        Configuration adapter;
        ApplyReport report;
        // Each row's line is printed as its write ends (PortRuns' observer).
        const Outcome applied =
            work.Apply(a.speed, file, a.rowsGiven ? &rows : nullptr, a.dryRun, &adapter, &report);
        p.record.speed = adapter.speed;
        // Without a whole read before the writes nothing was planned nor written; a line that fails
        // or a stop in the middle ends the apply without its summary.
        if (!report.planned || applied.exit == EXIT_PORT || applied.exit >= EXIT_INTERRUPTED) {
            return applied.message.empty() ? applied.exit : p.Fail(applied.exit, applied.message);
        }
        p.record.result = report.Summary();
        if (!DataOutput::Put(report.Summary() + "\n", p.prefix))
            return std::max(applied.exit, int{EXIT_FAILED});
        return applied.exit;
    });
}

}  // namespace

const Command APPLY_COMMAND = {"apply",
                               "write the rows that differ, then read back",
                               {{"--port", true},
                                {"--ports-from", false},
                                {"--speed", false},
                                {"--rows", false},
                                {"--dry-run", false},
                                {"--trace", false},
                                {"--history", false}},
                               "FILE",
                               RunApply};

}  // namespace cli
