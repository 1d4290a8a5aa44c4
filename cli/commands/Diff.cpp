// krt42 diff: the rows whose value on each port's adapter differs from a configuration file.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"

namespace cli {

namespace {

using namespace tray;

int RunDiff(const Arguments& a) {
    PortRuns runs(a, "diff", false);
    if (const int code = runs.Gather(true)) return code;
    if (!DataOutput::Put(std::string())) return EXIT_FAILED;  // main says why
    Configuration file;
    std::vector<bool> rows;
    if (const int code = ReadConfiguration(a, false, &file, &rows)) return code;
    if (const int code = runs.Prepare()) return code;
    return runs.Run([&](PortRun& p, PortWork& work) -> int {
        Configuration adapter;
        std::vector<Difference> differences;
        const Outcome diff = work.Diff(a.speed, file, a.rowsGiven ? &rows : nullptr, &adapter, &differences);
        if (diff.exit != EXIT_OK && diff.exit != EXIT_FAILED) {
            return diff.message.empty() ? diff.exit : p.Fail(diff.exit, diff.message);
        }
        p.record.speed = adapter.speed;
        std::string text;
        for (const Difference& d : differences) text += DifferenceLine(d) + "\n";
        if (!DataOutput::Put(text, p.prefix)) return int{EXIT_FAILED};
        p.record.result =
            differences.empty() ? "no row differs" : std::to_string(differences.size()) + " rows differ";
        return diff.exit;
    });
}

}  // namespace

const Command DIFF_COMMAND = {"diff",
                              "the rows whose value differs from the file",
                              {{"--port", true},
                               {"--ports-from", false},
                               {"--speed", false},
                               {"--rows", false},
                               {"--trace", false},
                               {"--history", false}},
                              "FILE",
                              RunDiff};

}  // namespace cli
