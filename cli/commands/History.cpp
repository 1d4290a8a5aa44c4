// krt42 history: the jobs the station and krt42 --history recorded, newest first.
#include "tray/History.h"

#include <algorithm>

#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"
#include "tray/Platform.h"
#include "tray/Text.h"

namespace cli {

namespace {

using namespace tray;

// Characters a terminal shows, not UTF-8 bytes.
size_t Width(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string HistoryTable(const std::vector<JobRecord>& records) {
    std::vector<std::vector<std::string>> table = {
        {"id", "started", "port", "kind", "state", "exit", "result"}};
    for (const JobRecord& r : records) {
        table.push_back({std::to_string(r.id), r.started, Printable(r.port), r.kind, r.state,
                         r.exitCode < 0 ? std::string("-") : std::to_string(r.exitCode),
                         Printable(r.result)});
    }
    std::vector<size_t> widths(table[0].size(), 0);
    for (const auto& line : table) {
        for (size_t k = 0; k < line.size(); ++k) widths[k] = std::max(widths[k], Width(line[k]));
    }
    std::string out;
    for (const auto& line : table) {
        for (size_t k = 0; k < line.size(); ++k) {
            out += line[k];
            if (k + 1 < line.size()) out += std::string(widths[k] - Width(line[k]) + 2, ' ');
        }
        out += "\n";
    }
    return out;
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
    filter.port = a.ports.empty() ? std::string() : a.ports[0];
    filter.kind = a.kind;
    filter.since = a.since;
    const std::vector<JobRecord> records = history.List(filter);
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
                                 "the jobs recorded by the station and by --history, newest first",
                                 {{"--state", false},
                                  {"--history", false},
                                  {"--port", false},
                                  {"--kind", false},
                                  {"--since", false},
                                  {"--format", false}},
                                 "",
                                 RunHistory};

}  // namespace cli
