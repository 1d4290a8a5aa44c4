#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/ConfigFile.h"
#include "cli/Jobs.h"
#include "cli/Output.h"
#include "cli/Platform.h"
#include "cli/Text.h"
#include "cli/Trace.h"
#include "configurator/ParameterTable.h"
#include "framework/WorkerThread.h"
#include "loader/LoaderPort.h"
#include "loader/ProgramImage.h"
#include "serial/ComDriver.h"

namespace cli {

namespace {

constexpr uint32_t kProgressEveryMs = 50;

// What a command needs that is checked before any port is touched: nothing goes down a line
// while a row, a value, a file or an output can still turn out unusable.
struct Prepared {
    std::string format;                                // read: table, csv or json
    std::vector<std::unique_ptr<OutputFile>> outputs;  // read -o: one per port
    int row = -1;                                      // write
    std::string value;                                 // write: Windows-1251
    Configuration file;                                // diff, apply
    std::vector<bool> rowsWanted;
    bool rowsGiven = false;
    std::string program;  // load: the name as the core opens it
};

// One port's run: its name, its driver and how it ended.
struct PortRun {
    size_t index = 0;
    std::string name;
    std::string prefix;  // "PORT: " before every line when there are several ports
    std::unique_ptr<serial::SerialApi> api;
    std::unique_ptr<TracingSerialApi> traced;  // between the driver and `api` with --trace
    unsigned number = 0;
    int exit = EXIT_OK;
};

int Fail(const PortRun& p, int code, const std::string& message) {
    Say(p.prefix + message);
    return code;
}

int StoppedCode() {
    return EXIT_INTERRUPTED + StopSignal();
}

std::string CannotOpen(const PortRun& p) {
    const std::string trouble = PortTrouble(p.name);
    return "cannot open " + p.name + (trouble.empty() ? std::string() : ": " + trouble);
}

std::string LineFailed(const PortRun& p) {
    const std::string trouble = PortTrouble(p.name);
    return "the line to " + p.name + " failed" + (trouble.empty() ? std::string() : ": " + trouble);
}

// Finds the adapter, or opens the port at the given speed.
int Connect(LinkJob& job, const Arguments& a, const PortRun& p) {
    if (a.speed != 0) return job.OpenAt(a.speed) == EXIT_OK ? EXIT_OK : Fail(p, EXIT_PORT, CannotOpen(p));
    int speed = 0;
    switch (job.Find(&speed)) {
        case EXIT_OK:
            return EXIT_OK;
        case EXIT_PORT:
            return Fail(p, EXIT_PORT, CannotOpen(p));
        case EXIT_NO_ADAPTER:
            return Fail(p, EXIT_NO_ADAPTER, "no adapter on " + p.name);
        default:
            return StoppedCode();
    }
}

// After Read: the exit it gave, said to the user.
int ReadOutcome(Exit read, const PortRun& p, const LinkJob& job) {
    switch (read) {
        case EXIT_OK:
            return EXIT_OK;
        case EXIT_PORT:
            return Fail(p, EXIT_PORT, LineFailed(p));
        case EXIT_NO_ANSWER:
            return Fail(p, EXIT_NO_ANSWER,
                        std::to_string(job.UnansweredRows()) + " of " +
                            std::to_string(configurator::PARAM_ROW_COUNT) +
                            " rows got no answer from the adapter (marked no)");
        default:
            return StoppedCode();
    }
}

Configuration ConfigurationOf(const LinkJob& job, const PortRun& p) {
    Configuration config;
    config.tool = ToolText();
    // A name that is no UTF-8 would make a file that no JSON reader takes, ours included.
    config.port = Printable(p.name);
    config.speed = job.Speed();
    config.time = UtcTimeText(static_cast<int64_t>(std::time(nullptr)));
    for (int row = 0; row < configurator::PARAM_ROW_COUNT; ++row) {
        const RowResult r = job.Row(row);
        config.rows.push_back(TableRow(row, r.value, r.unit, r.answered, &r.bytes));
    }
    return config;
}

std::string RowName(const std::string& param, const std::string& index) {
    return param + (index.empty() ? std::string() : ":" + index);
}

std::string Quoted(const std::string& utf8) {
    return "\"" + Printable(utf8) + "\"";
}

// Two values as a person reads them; where the texts look alike but the bytes differ, the
// bytes follow in hex so that the difference can be seen.
std::string FileAndAdapter(const Difference& d) {
    const bool alike = d.fileValue == d.adapterValue;
    return "file " + Quoted(d.fileValue) + (alike ? " [" + HexOfBytes(d.fileBytes) + "]" : "") +
           "  adapter " + Quoted(d.adapterValue) + (alike ? " [" + HexOfBytes(d.adapterBytes) + "]" : "");
}

// ---- the commands, each for one port

int RunFind(const Arguments&, Prepared&, PortRun& p, LinkJob& job) {
    int speed = 0;
    switch (job.Find(&speed)) {
        case EXIT_OK:
            return DataOutput::Put(p.name + ": KRT42 at " + std::to_string(speed) + " bit/s\n") ? EXIT_OK
                                                                                                : EXIT_FAILED;
        case EXIT_NO_ADAPTER:
            return DataOutput::Put("no adapter on " + p.name + "\n") ? EXIT_NO_ADAPTER : EXIT_FAILED;
        case EXIT_PORT:
            return Fail(p, EXIT_PORT, CannotOpen(p));
        default:
            return StoppedCode();
    }
}

int RunRead(const Arguments& a, Prepared& prep, PortRun& p, LinkJob& job) {
    if (const int connected = Connect(job, a, p)) return connected;
    const Exit read = job.Read();
    if (read != EXIT_OK && read != EXIT_NO_ANSWER) return ReadOutcome(read, p, job);
    const Configuration config = ConfigurationOf(job, p);
    const std::string text = prep.format == "json"  ? ConfigJson(config)
                             : prep.format == "csv" ? ConfigCsv(config)
                                                    : TableText(config.rows);
    if (!prep.outputs.empty()) {
        std::string error;
        if (!prep.outputs[p.index]->Commit(text, &error)) return Fail(p, EXIT_FAILED, error);
    } else if (!DataOutput::Put(text, p.prefix)) {
        return EXIT_FAILED;
    }
    return ReadOutcome(read, p, job);
}

int RunWrite(const Arguments& a, Prepared& prep, PortRun& p, LinkJob& job) {
    if (const int connected = Connect(job, a, p)) return connected;
    const WriteResult result = job.Write(prep.row, prep.value);
    switch (result.exit) {
        case EXIT_OK:
            return EXIT_OK;
        case EXIT_USAGE:
            return Fail(p, EXIT_USAGE, "the value cannot be sent");
        case EXIT_REFUSED:
            return Fail(p, EXIT_REFUSED, "refused: " + Utf8FromAnsi(result.refusal));
        case EXIT_NO_ANSWER:
            return Fail(p, EXIT_NO_ANSWER,
                        result.sent ? "no reply to the write within 2 s"
                                    : "the write could not be sent: the line still holds earlier requests");
        case EXIT_PORT:
            return Fail(p, EXIT_PORT, LineFailed(p));
        default:
            return StoppedCode();
    }
}

int RunDiff(const Arguments& a, Prepared& prep, PortRun& p, LinkJob& job) {
    if (const int connected = Connect(job, a, p)) return connected;
    if (const int read = ReadOutcome(job.Read(), p, job)) return read;
    const auto differences =
        Differences(prep.file, ConfigurationOf(job, p), prep.rowsGiven ? &prep.rowsWanted : nullptr);
    std::string text;
    for (const Difference& d : differences) {
        text += "row " + std::to_string(d.row) + "  " + RowName(d.param, d.index) + "  " + FileAndAdapter(d) +
                "\n";
    }
    if (!DataOutput::Put(text, p.prefix)) return EXIT_FAILED;
    return differences.empty() ? EXIT_OK : EXIT_FAILED;
}

int RunApply(const Arguments& a, Prepared& prep, PortRun& p, LinkJob& job) {
    if (const int connected = Connect(job, a, p)) return connected;
    // Without a whole read, which rows differ is not known: nothing is written.
    if (const int read = ReadOutcome(job.Read(), p, job)) return read;
    const std::vector<bool>* wanted = prep.rowsGiven ? &prep.rowsWanted : nullptr;
    const auto plan = Differences(prep.file, ConfigurationOf(job, p), wanted);
    int written = 0, refused = 0, unanswered = 0;
    int code = EXIT_OK;
    std::vector<const Difference*> accepted;
    for (const Difference& d : plan) {
        std::string line = "row " + std::to_string(d.row) + "  " + RowName(d.param, d.index) + "  " +
                           Quoted(d.adapterValue) + " -> " + Quoted(d.fileValue) + "  ";
        if (a.dryRun) {
            DataOutput::Put(line + "planned\n", p.prefix);
            continue;
        }
        // The bytes were checked before the port was opened: the adapter's own for a clone, the
        // typed text in Windows-1251 otherwise.
        const WriteResult result = job.Write(d.row, d.fileBytes);
        if (result.exit == EXIT_OK) {
            ++written;
            accepted.push_back(&d);
            line += "written";
        } else if (result.exit == EXIT_REFUSED) {
            ++refused;
            code = std::max(code, static_cast<int>(EXIT_REFUSED));
            line += "refused: " + Printable(Utf8FromAnsi(result.refusal));
        } else if (result.exit == EXIT_NO_ANSWER || result.exit == EXIT_USAGE) {
            // A row that could not go out is as unknown as one whose reply never came: the rest
            // are still tried.
            ++unanswered;
            code = std::max(code, static_cast<int>(EXIT_NO_ANSWER));
            line += result.sent ? "unanswered" : "unanswered (not sent)";
        } else if (result.exit == EXIT_PORT) {
            DataOutput::Put(line + "line failed\n", p.prefix);
            return Fail(p, EXIT_PORT, LineFailed(p));
        } else {
            return StoppedCode();
        }
        DataOutput::Put(line + "\n", p.prefix);
    }
    if (a.dryRun) {
        const bool ok = DataOutput::Put(
            "apply: " + std::to_string(plan.size()) + " rows differ; dry run, nothing written\n", p.prefix);
        return ok ? EXIT_OK : EXIT_FAILED;
    }
    std::string readBack = "nothing to read back";
    if (!accepted.empty()) {
        // Only what the adapter answers now counts: the table still holds what the writes put
        // in it, which says nothing of what the adapter kept.
        const Exit read = job.Read();
        if (read == EXIT_PORT) return std::max(code, Fail(p, EXIT_PORT, LineFailed(p)));
        if (read >= EXIT_INTERRUPTED) return StoppedCode();
        int disagree = 0, unknown = 0;
        for (const Difference* d : accepted) {
            const RowResult now = job.Row(d->row);
            if (!now.answered) {
                ++unknown;
                DataOutput::Put("row " + std::to_string(d->row) + "  " + RowName(d->param, d->index) +
                                    "  read back: no answer\n",
                                p.prefix);
                continue;
            }
            if (now.bytes == d->fileBytes) continue;
            ++disagree;
            const std::string shown = ShownText(now.bytes);
            DataOutput::Put("row " + std::to_string(d->row) + "  " + RowName(d->param, d->index) +
                                "  read back " + Quoted(shown) + ", written " + Quoted(d->fileValue) +
                                (shown == d->fileValue
                                     ? " [" + HexOfBytes(now.bytes) + " / " + HexOfBytes(d->fileBytes) + "]"
                                     : std::string()) +
                                "\n",
                            p.prefix);
        }
        if (disagree != 0) code = std::max(code, static_cast<int>(EXIT_READ_BACK));
        if (unknown != 0) code = std::max(code, static_cast<int>(EXIT_NO_ANSWER));
        readBack = disagree == 0 && unknown == 0 ? "read-back agrees"
                   : disagree != 0 ? "read-back differs in " + std::to_string(disagree) + " rows"
                                   : "read-back got no answer for " + std::to_string(unknown) + " rows";
        if (disagree != 0 && unknown != 0) readBack += ", no answer for " + std::to_string(unknown);
    }
    const std::string text = "apply: " + std::to_string(plan.size()) + " rows differ; " +
                             std::to_string(written) + " written, " + std::to_string(refused) + " refused, " +
                             std::to_string(unanswered) + " unanswered; " + readBack + "\n";
    if (!DataOutput::Put(text, p.prefix)) code = std::max(code, static_cast<int>(EXIT_FAILED));
    return code;
}

int RunLoad(const Arguments& a, Prepared& prep, PortRun& p, serial::ComDriver& com, LoadProgress& progress,
            const std::function<void()>& tick) {
    LoadJob job(com, p.number);
    const int speed = a.speed != 0 ? a.speed : loader::SpeedAt(loader::DEFAULT_SPEED_INDEX);
    if (job.Open(speed) != EXIT_OK) return Fail(p, EXIT_PORT, CannotOpen(p));
    job.afterTick = [&] {
        if (tick) tick();
        progress.Update(p.index, job.Position(), job.Total(), job.Restarts(), false);
    };
    std::string error;
    const LoadResult result = job.Load(prep.program, a.maxRestarts, &error);
    if (result.exit == EXIT_USAGE) return Fail(p, EXIT_USAGE, Utf8FromAnsi(error) + " " + a.rest[0]);
    progress.Update(p.index, result.exit == EXIT_OK ? result.sent : job.Position(), result.total,
                    result.restarts, true);
    const bool stopped = result.exit >= EXIT_INTERRUPTED;
    char summary[160];
    std::snprintf(summary, sizeof summary, "%s, %d/%d bytes, %d restarts, %.1f s",
                  stopped                  ? "stopped"
                  : result.exit == EXIT_OK ? "done"
                                           : "failed",
                  static_cast<int>(result.sent), static_cast<int>(result.total), result.restarts,
                  static_cast<double>(result.milliseconds) / 1000.0);
    // With several ports each says how far it came, also when Ctrl-C stopped them all.
    if (!p.prefix.empty()) Say(p.prefix + summary);
    if (stopped) return StoppedCode();
    if (result.exit != EXIT_OK) return Fail(p, result.exit, result.reason);
    return EXIT_OK;
}

// ---- what is checked before any port is touched

int Usage(const std::string& message) {
    Say(message);
    return EXIT_USAGE;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
    int64_t size = 0;
    const FileKind kind = KindOf(path, &size);
    if (kind == FileKind::Missing) {
        *error = path + ": no such file";
        return false;
    }
    if (kind == FileKind::Directory) {
        *error = path + " is a folder, not a file";
        return false;
    }
    if (kind == FileKind::Regular && size > static_cast<int64_t>(CONFIG_MAX_BYTES)) {
        *error = path + " is too large for a configuration (" + std::to_string(size) + " bytes)";
        return false;
    }
    std::FILE* file = OpenForReading(path);
    if (file == nullptr) {
        *error = "cannot read " + path + ": " + LastErrorText();
        return false;
    }
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && bytes->size() <= CONFIG_MAX_BYTES) {
        bytes->append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) *error = "cannot read " + path;
    return !failed;
}

std::string ExtensionFormat(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    if (ext == "csv" || ext == "CSV") return "csv";
    if (ext == "txt" || ext == "TXT") return "table";
    return "json";
}

int PrepareRead(const Arguments& a, const std::vector<std::string>& ports, Prepared* prep) {
    if (!a.rest.empty()) return Usage("unexpected " + a.rest[0]);
    // A file is a configuration: JSON unless its name or --format says otherwise.
    prep->format = !a.format.empty()                     ? a.format
                   : a.output.empty() || a.output == "-" ? "table"
                                                         : ExtensionFormat(a.output);
    if (a.output.empty() || a.output == "-") return EXIT_OK;
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
            path += "/" + PortFileName(port) + (prep->format == "table" ? ".txt" : "." + prep->format);
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
        prep->outputs.push_back(std::move(file));
    }
    return EXIT_OK;
}

int PrepareWrite(const Arguments& a, const std::vector<std::string>& ports, Prepared* prep) {
    if (ports.size() > 1) return Usage("write takes one --port");
    if (a.rest.size() != 2) return Usage("write takes ROW and VALUE");
    prep->row = RowOfName(a.rest[0]);
    if (prep->row < 0) return Usage("unknown row " + a.rest[0] + " (0..103 or PARAM[:INDEX])");
    std::string error;
    if (!UsableValue(a.rest[1], &prep->value, &error, prep->row)) return Usage(error);
    return EXIT_OK;
}

int PrepareConfiguration(const Arguments& a, Prepared* prep, bool forWriting) {
    if (a.rest.size() != 1) return Usage(a.command + " takes one FILE");
    std::string bytes, error;
    if (!ReadWholeFile(a.rest[0], &bytes, &error)) return Usage(error);
    if (!ParseConfiguration(bytes, &prep->file, &error)) return Usage(a.rest[0] + ": " + Printable(error));
    if (a.rowsGiven) {
        if (!ParseRowList(a.rows, &prep->rowsWanted, &error)) return Usage(error);
        prep->rowsGiven = true;
    }
    const std::vector<bool>* wanted = prep->rowsGiven ? &prep->rowsWanted : nullptr;
    if (forWriting && !UsableRows(prep->file, wanted, &error))
        return Usage(a.rest[0] + ": " + Printable(error));
    return EXIT_OK;
}

int PrepareLoad(const Arguments& a, Prepared* prep) {
    if (a.rest.size() != 1) return Usage("load takes one FILE");
    const std::string& path = a.rest[0];
    int64_t size = 0;
    switch (KindOf(path, &size)) {
        case FileKind::Missing:
            return Usage(path + ": no such file");
        case FileKind::Directory:
            return Usage(path + " is a folder, not a file");
        case FileKind::Other:
            return Usage(path + " is not a regular file");
        case FileKind::Regular:
            break;
    }
    // The adapter takes the whole program or nothing: a program cut at the limit, or none at all,
    // would leave it with something that is not its program.
    if (size == 0) return Usage(path + " is empty: there is nothing to load");
    if (size > loader::PROGRAM_IMAGE_SIZE) {
        return Usage(path + " has " + std::to_string(size) + " bytes; the adapter takes at most " +
                     std::to_string(loader::PROGRAM_IMAGE_SIZE));
    }
    prep->program = CorePath(path);
    return EXIT_OK;
}

// Runs one port's command on a thread of its own.
class PortThread : public fw::WorkerThread {
  public:
    std::function<void()> body;

  protected:
    bool InitInstance() override {
        body();
        return false;
    }
};

}  // namespace

int RunCommand(const Arguments& a) {
    const std::string& c = a.command;
    const bool link = c == "find" || c == "read" || c == "write" || c == "diff" || c == "apply";
    if (!link && c != "load") return Usage("unknown command " + c + " (see krt42 --help)");

    std::vector<std::string> ports = a.ports;
    for (const std::string& list : a.portsFrom) {
        std::string bytes, error;
        if (!ReadWholeFile(list, &bytes, &error)) return Usage(error);
        for (const std::string& port : PortsOfList(bytes)) ports.push_back(port);
    }
    if (ports.empty()) return Usage("--port is missing");
    std::set<std::string> seen;
    for (const std::string& port : ports) {
        if (!seen.insert(port).second) return Usage(port + " is given twice");
    }
    if (a.rowsGiven && c != "diff" && c != "apply") return Usage("--rows goes with diff and apply");
    if (a.dryRun && c != "apply") return Usage("--dry-run goes with apply");

    // Standard output or error that leads to one of the ports would put text on the line.
    for (const std::string& port : ports) {
        const std::string device = PortDevice(port);
        if (StandardStreamIs(2, device)) {
            SilenceStandardError();
            return EXIT_USAGE;
        }
        if (StandardStreamIs(1, device)) return Usage("standard output is the port " + port);
    }

    // Data that would go nowhere is a failure to tell before anything is sent, not after.
    const bool toStdout =
        c == "find" || c == "diff" || c == "apply" || (c == "read" && (a.output.empty() || a.output == "-"));
    if (toStdout && !DataOutput::Put(std::string())) return EXIT_FAILED;  // main says why

    Prepared prep;
    int prepared = EXIT_OK;
    if (c == "find" && !a.rest.empty()) prepared = Usage("unexpected " + a.rest[0]);
    if (c == "read") prepared = PrepareRead(a, ports, &prep);
    if (c == "write") prepared = PrepareWrite(a, ports, &prep);
    if (c == "diff") prepared = PrepareConfiguration(a, &prep, false);
    if (c == "apply") prepared = PrepareConfiguration(a, &prep, true);
    if (c == "load") prepared = PrepareLoad(a, &prep);
    if (prepared != EXIT_OK) return prepared;

    std::vector<PortRun> runs(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        PortRun& p = runs[i];
        p.index = i;
        p.name = ports[i];
        p.prefix = ports.size() > 1 ? p.name + ": " : std::string();
        std::string error;
        p.api = SerialApiFor(p.name, c == "load", &p.number, &error);
        if (!p.api) return Usage(error);
    }

    // The trace opens before any port: a trace that cannot be written stops nothing later.
    std::FILE* traceFile = nullptr;
    std::unique_ptr<QueuedTraceWriter> trace;
    if (!a.trace.empty()) {
        if (a.trace == "-") {
            traceFile = stderr;
        } else {
            TargetKind kind = TargetKind::Absent;
            std::string resolved;
            const std::string forbidden = ForbiddenTarget(a.trace, ports, &kind, &resolved);
            if (!forbidden.empty()) return Usage("will not trace to " + forbidden);
            traceFile = kind == TargetKind::Fifo || kind == TargetKind::Device ? OpenInPlace(resolved)
                                                                               : OpenForWriting(resolved);
            if (traceFile == nullptr) {
                // A FIFO without a reader waits in its open; Ctrl-C there is a stop like any other.
                if (Interrupted()) return StoppedCode();
                Say("cannot write " + a.trace + ": " + LastErrorText());
                return EXIT_FAILED;
            }
        }
        trace = std::make_unique<QueuedTraceWriter>(traceFile);
        if (!trace->Start()) {
            Say("no thread for the trace");
            return EXIT_FAILED;
        }
        for (PortRun& p : runs) p.traced = std::make_unique<TracingSerialApi>(*p.api, *trace, p.name, link);
    }

    LoadProgress progress(ports);
    auto runOne = [&](PortRun& p) {
        serial::SerialApi& api = p.traced ? static_cast<serial::SerialApi&>(*p.traced) : *p.api;
        serial::ComDriver com(c == "load" ? serial::ComVariant::Loader : serial::ComVariant::Configurator,
                              api);
        // The trace is written by the job's own thread between ticks, never on the way to the line.
        std::function<void()> tick;
        if (p.traced) tick = [&p] { p.traced->Flush(); };
        if (link) {
            LinkJob job(com, p.number);
            job.afterTick = tick;
            if (c == "find") p.exit = RunFind(a, prep, p, job);
            if (c == "read") p.exit = RunRead(a, prep, p, job);
            if (c == "write") p.exit = RunWrite(a, prep, p, job);
            if (c == "diff") p.exit = RunDiff(a, prep, p, job);
            if (c == "apply") p.exit = RunApply(a, prep, p, job);
        } else {
            p.exit = RunLoad(a, prep, p, com, progress, tick);
        }
        if (p.traced) {
            com.Command(serial::COM_CLOSE, nullptr);
            p.traced->Flush();
        }
    };
    // Every port's job runs on a thread of its own; this one shows the loads' progress, so that
    // an output that blocks holds up no tick.
    std::vector<std::unique_ptr<PortThread>> threads;
    for (PortRun& p : runs) {
        auto thread = std::make_unique<PortThread>();
        thread->m_bAutoDelete = false;
        thread->body = [&runOne, &p] { runOne(p); };
        if (!thread->CreateThread(fw::kPriorityNormal)) {
            p.exit = Fail(p, EXIT_FAILED, "no thread for the port");
            continue;
        }
        threads.push_back(std::move(thread));
    }
    for (auto& thread : threads) {
        while (!thread->WaitForEnd(kProgressEveryMs)) progress.Show();
    }
    // The worst of the ports' codes is the command's; a port that failed never stopped another.
    int code = EXIT_OK;
    for (const PortRun& p : runs) code = std::max(code, p.exit);
    if (trace) {
        // Waits for the trace's reader to take what is queued; after Ctrl-C it waits no more.
        const bool whole = trace->Close();
        const bool written = whole && trace->Good() && std::fflush(traceFile) == 0 && !std::ferror(traceFile);
        if (whole && traceFile != stderr && std::fclose(traceFile) != 0)
            code = std::max(code, static_cast<int>(EXIT_FAILED));
        std::size_t dropped = 0;
        for (const PortRun& p : runs) dropped += p.traced ? p.traced->DroppedLines() : 0;
        if (dropped != 0) {
            // All of the line was asked for; a trace with holes is a failure to say.
            Say("the trace " + a.trace + " is incomplete: " + std::to_string(dropped) +
                " lines were dropped while its reader did not keep up");
            code = std::max(code, static_cast<int>(EXIT_FAILED));
        } else if (!written && whole) {
            Say("cannot write the trace " + a.trace);
            code = std::max(code, static_cast<int>(EXIT_FAILED));
        }
    }
    return code;
}

}  // namespace cli
