// krt42 read: the 104 rows of each port's adapter, as a table, CSV or JSON, to standard output or
// to a file per port.
#include <memory>
#include <set>

#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/PortRuns.h"
#include "tray/Text.h"

namespace cli {

namespace {

using namespace tray;

std::string ExtensionFormat(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    if (ext == "csv" || ext == "CSV") return "csv";
    if (ext == "txt" || ext == "TXT") return "table";
    return "json";
}

// The -o files, one per port, made before any port is touched.
int PrepareOutputs(const Arguments& a, const std::vector<std::string>& ports, const std::string& format,
                   std::vector<std::unique_ptr<OutputFile>>* outputs) {
    std::vector<std::string> paths;
    int64_t size = 0;
    const bool folder = KindOf(a.output, &size) == FileKind::Directory;
    const bool pattern = a.output.find("{port}") != std::string::npos;
    if (ports.size() > 1 && !folder && !pattern) {
        return Usage("with several ports, -o takes a name with {port} in it, or a folder");
    }
    std::set<std::string> seen;
    for (const std::string& port : ports) {
        std::string path = a.output;
        if (pattern) {
            path = ExpandPortPattern(a.output, port);
        } else if (folder) {
            path += "/" + tray::PortFileName(port) + (format == "table" ? ".txt" : "." + format);
        }
        if (!seen.insert(path).second) return Usage("two ports would write " + path);
        paths.push_back(path);
    }
    for (const std::string& path : paths) {
        auto file = std::make_unique<OutputFile>();
        std::string error;
        const int prepared = file->Prepare(path, ports, &error);
        if (prepared >= EXIT_INTERRUPTED) return prepared;
        if (prepared != EXIT_OK) {
            Say(error);
            return prepared;
        }
        outputs->push_back(std::move(file));
    }
    return EXIT_OK;
}

void NoteAdapter(const Configuration& config, JobRecord* record) {
    // Rows 2 to 4: the adapter's version, number and board code.
    record->speed = config.speed;
    if (config.rows.size() > 4 && config.rows[2].answered) record->adapterVersion = config.rows[2].value;
    if (config.rows.size() > 4 && config.rows[3].answered) record->adapterNumber = config.rows[3].value;
    if (config.rows.size() > 4 && config.rows[4].answered) record->adapterBoard = config.rows[4].value;
}

int RunRead(const Arguments& a) {
    PortRuns runs(a, "read", false);
    if (const int code = runs.Gather(true)) return code;
    const bool toStdout = a.output.empty() || a.output == "-";
    if (toStdout && !DataOutput::Put(std::string())) return EXIT_FAILED;  // main says why
    if (!a.rest.empty()) return Usage("unexpected " + a.rest[0]);
    // A file is a configuration: JSON unless its name or --format says otherwise.
    const std::string format = !a.format.empty() ? a.format : toStdout ? "table" : ExtensionFormat(a.output);
    std::vector<std::unique_ptr<OutputFile>> outputs;
    if (!toStdout) {
        if (const int code = PrepareOutputs(a, runs.Ports(), format, &outputs)) return code;
    }
    if (const int code = runs.Prepare()) return code;
    return runs.Run([&](PortRun& p, PortWork& work) -> int {
        Configuration config;
        const Outcome read = work.Read(a.speed, &config);
        if (read.exit != EXIT_OK && read.exit != EXIT_NO_ANSWER) {
            return read.message.empty() ? read.exit : p.Fail(read.exit, read.message);
        }
        NoteAdapter(config, &p.record);
        const std::string text = format == "json"  ? ConfigJson(config)
                                 : format == "csv" ? ConfigCsv(config)
                                                   : TableText(config.rows);
        if (!outputs.empty()) {
            std::string error;
            if (!outputs[p.index]->Commit(text, &error)) return p.Fail(EXIT_FAILED, error);
        } else if (!DataOutput::Put(text, p.prefix)) {
            return int{EXIT_FAILED};
        }
        return read.exit == EXIT_OK ? int{EXIT_OK} : p.Fail(read.exit, read.message);
    });
}

}  // namespace

const Command READ_COMMAND = {"read",
                              "read the 104 parameters",
                              {{"--port", true},
                               {"--ports-from", false},
                               {"--speed", false},
                               {"--format", false},
                               {"-o", false},
                               {"--trace", false},
                               {"--history", false}},
                              "",
                              RunRead};

}  // namespace cli
