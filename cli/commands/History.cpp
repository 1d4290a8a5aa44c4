// krt42 history: the jobs the station and krt42 --history recorded, newest first.
#include "tray/History.h"

#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"
#include "tray/Platform.h"
#include "tray/Text.h"

namespace cli {

namespace {

using namespace tray;

std::string HistoryTable(const std::vector<JobRecord>& records) {
    std::vector<std::vector<std::string>> table = {
        {"id", "started", "port", "kind", "state", "exit", "result"}};
    for (const JobRecord& r : records) {
        table.push_back({std::to_string(r.id), r.started, Printable(r.port), r.kind, r.state,
                         r.exitCode < 0 ? std::string("-") : std::to_string(r.exitCode),
                         Printable(r.result)});
    }
    return AlignedTable(table);
}

int RunHistory(const Arguments& a) {
    if (!History::Available()) return Usage("the job history is not available on Windows");
    if (!a.rest.empty()) return Usage("unexpected " + a.rest[0]);
    if (a.ports.size() > 1) return Usage("history takes one --port");
    if (a.Given("--history") && a.Given("--state"))
        return Usage("history takes --state or --history, not both");
    if (!DataOutput::Put(std::string())) return EXIT_FAILED;  // main says why
    const std::string path = !a.history.empty() ? a.history
                             : !a.state.empty() ? a.state + "/history.sqlite"
                                                : DefaultStateDir() + "/history.sqlite";
    int64_t size = 0;
    if (KindOf(path, &size) != FileKind::Regular) {
        Say("no job history at " + path);
        return EXIT_FAILED;
    }
    History history;
    std::string error;
    if (!history.Open(path, &error)) return Usage("cannot read the history " + path + ": " + error);
    HistoryFilter filter;
    // A port by its path, or by the short name that the station's page shows (its last part).
    const std::string port = a.ports.empty() ? std::string() : a.ports[0];
    const bool shortName = port.find_first_of("/\\") == std::string::npos;
    if (!shortName) filter.port = port;
    filter.kind = a.kind;
    filter.since = a.since;
    std::vector<JobRecord> records = history.List(filter);
    if (shortName && !port.empty()) {
        std::vector<JobRecord> mine;
        for (JobRecord& r : records) {
            if (r.port == port || PortFileName(r.port) == port) mine.push_back(std::move(r));
        }
        records.swap(mine);
    }
    if (!history.Error().empty()) {
        Say("cannot read the history " + path + ": " + history.Error());
        return EXIT_FAILED;
    }
    const std::string text = a.format == "csv"    ? HistoryCsv(records)
                             : a.format == "json" ? HistoryJson(records)
                                                  : HistoryTable(records);
    return DataOutput::Put(text) ? EXIT_OK : EXIT_FAILED;
}

}  // namespace

const Command HISTORY_COMMAND = {"history",
                                 "the jobs recorded, newest first",
                                 {{"--state", false},
                                  {"--history", false},
                                  {"--port", false},
                                  {"--kind", false},
                                  {"--since", false},
                                  {"--format", false}},
                                 "",
                                 RunHistory};

}  // namespace cli
