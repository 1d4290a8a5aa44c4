#include "cli/PortRuns.h"

#include <algorithm>
#include <set>

#include "framework/WorkerThread.h"
#include "tray/Platform.h"
#include "tray/Text.h"

namespace cli {

using namespace tray;

namespace {

constexpr uint32_t kProgressEveryMs = 50;

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

}  // namespace

int PortRun::Fail(int code, const std::string& message) {
    Say(prefix + message);
    record.result = message;
    return code;
}

int Usage(const std::string& message) {
    Say(message);
    return EXIT_USAGE;
}

// Runs one port's job on a thread of its own.
class PortRuns::Thread : public fw::WorkerThread {
  public:
    std::function<void()> body;

  protected:
    bool InitInstance() override {
        body();
        return false;
    }
};

// What a port's job tells on its way, for the person at the terminal: the loads' progress and
// every apply row as it ends.
class PortRuns::Observer : public JobObserver {
  public:
    Observer(PortRun& run, LoadProgress* progress) : run_(run), progress_(progress) {}

    void OnLoadProgress(int32_t sent, int32_t total, int restarts) override {
        if (progress_ != nullptr) progress_->Update(run_.index, sent, total, restarts, false);
    }
    void OnAppliedRow(const AppliedRow& row) override {
        DataOutput::Put(AppliedLine(row) + "\n", run_.prefix);
        if (row.result != AppliedRow::Planned) {
            run_.record.rows.push_back(
                {row.d.row, row.d.param, row.d.index, row.d.adapterValue, row.d.fileValue,
                 row.result == AppliedRow::Refused ? std::string("refused: ") + row.refusal
                                                   : std::string(AppliedResultName(row.result))});
        }
    }
    void OnReadBackRow(const ReadBackRow& row) override {
        DataOutput::Put(ReadBackLine(row) + "\n", run_.prefix);
    }

  private:
    PortRun& run_;
    LoadProgress* progress_;
};

PortRuns::PortRuns(const Arguments& a, const char* kind, bool forLoad)
    : a_(a), kind_(kind), forLoad_(forLoad) {}

PortRuns::~PortRuns() = default;

int PortRuns::Gather(bool many) {
    ports_ = a_.ports;
    for (const std::string& list : a_.portsFrom) {
        std::string bytes, error;
        if (!ReadWholeFile(list, &bytes, &error)) return Usage(error);
        for (const std::string& port : PortsOfList(bytes)) ports_.push_back(port);
    }
    if (ports_.empty()) {
        return Usage(a_.portsFrom.empty() ? "--port is missing" : "the --ports-from files name no port");
    }
    if (!many && ports_.size() > 1) return Usage(std::string(kind_) + " takes one --port");
    std::set<std::string> seen;
    for (const std::string& port : ports_) {
        if (!seen.insert(port).second) return Usage(port + " is given twice");
    }
    // Standard output or error that leads to one of the ports would put text on the line.
    for (const std::string& port : ports_) {
        const std::string device = PortDevice(port);
        if (StandardStreamIs(2, device)) {
            SilenceStandardError();
            return EXIT_USAGE;
        }
        if (StandardStreamIs(1, device)) return Usage("standard output is the port " + port);
    }
    return EXIT_OK;
}

int PortRuns::Prepare() {
    runs_.resize(ports_.size());
    for (size_t i = 0; i < ports_.size(); ++i) {
        PortRun& p = runs_[i];
        p.index = i;
        p.prefix = ports_.size() > 1 ? ports_[i] + ": " : std::string();
        std::string error;
        if (!MakePortLine(ports_[i], forLoad_, &p.line, &error)) return Usage(error);
        p.record.port = ports_[i];
        p.record.kind = kind_;
        p.record.source = "krt42";
    }
    if (!a_.history.empty()) {
        if (!History::Available()) return Usage("--history: the job history is not available on Windows");
        // Checked before any port: a record that cannot be kept is known before the job, not after.
        History history;
        std::string error;
        if (!history.Open(a_.history, &error))
            return Usage("cannot keep the history in " + a_.history + ": " + error);
    }
    // The trace opens before any port: a trace that cannot be written stops nothing later.
    if (a_.trace.empty()) return EXIT_OK;
    if (a_.trace == "-") {
        traceFile_ = stderr;
    } else {
        TargetKind kind = TargetKind::Absent;
        std::string resolved;
        const std::string forbidden = ForbiddenTarget(a_.trace, ports_, &kind, &resolved);
        if (!forbidden.empty()) return Usage("will not trace to " + forbidden);
        traceFile_ = kind == TargetKind::Fifo || kind == TargetKind::Device ? OpenInPlace(resolved)
                                                                            : OpenForWriting(resolved);
        if (traceFile_ == nullptr) {
            // A FIFO without a reader waits in its open; Ctrl-C there is a stop like any other.
            if (stop_.Requested()) return stop_.Code();
            Say("cannot write " + a_.trace + ": " + LastErrorText());
            return EXIT_FAILED;
        }
    }
    trace_ = std::make_unique<QueuedTraceWriter>(traceFile_);
    if (!trace_->Start()) {
        Say("no thread for the trace");
        return EXIT_FAILED;
    }
    const bool link = !forLoad_;
    for (PortRun& p : runs_)
        p.line.traced = std::make_unique<TracingSerialApi>(*p.line.api, *trace_, p.Name(), link);
    return EXIT_OK;
}

void PortRuns::RunOne(PortRun& run, const Body& body, LoadProgress* progress) {
    std::unique_ptr<History> history;
    if (!a_.history.empty()) {
        history = std::make_unique<History>();
        std::string error;
        if (history->Open(a_.history, &error)) {
            run.record.started = HistoryNow();
            run.record.id = history->Begin(run.record);
        }
    }
    Observer observer(run, progress);
    {
        PortWork work(run.line, forLoad_, stop_, observer);
        run.exit = body(run, work);
    }
    if (history && run.record.id != 0) {
        JobRecord& r = run.record;
        r.ended = HistoryNow();
        r.exitCode = run.exit;
        r.state = run.exit == EXIT_OK ? "done" : run.exit >= EXIT_INTERRUPTED ? "stopped" : "failed";
        if (r.result.empty())
            r.result = run.exit >= EXIT_INTERRUPTED ? "stopped" : run.exit == EXIT_OK ? "done" : "";
        if (!history->End(r))
            Say(run.prefix + "cannot record the job in " + a_.history + ": " + history->Error());
    }
}

int PortRuns::Run(const Body& body, LoadProgress* progress) {
    // Every port's job runs on a thread of its own; this one shows the loads' progress, so that an
    // output that blocks holds up no tick.
    std::vector<std::unique_ptr<Thread>> threads;
    for (PortRun& p : runs_) {
        auto thread = std::make_unique<Thread>();
        thread->m_bAutoDelete = false;
        thread->body = [this, &p, &body, progress] { RunOne(p, body, progress); };
        if (!thread->CreateThread(fw::kPriorityNormal)) {
            p.exit = p.Fail(EXIT_FAILED, "no thread for the port");
            continue;
        }
        threads.push_back(std::move(thread));
    }
    for (auto& thread : threads) {
        while (!thread->WaitForEnd(kProgressEveryMs)) {
            if (progress != nullptr) progress->Show();
        }
    }
    // The worst of the ports' codes is the command's; a port that failed never stopped another.
    int code = EXIT_OK;
    for (const PortRun& p : runs_) code = std::max(code, p.exit);
    return CloseTrace(code);
}

int PortRuns::CloseTrace(int code) {
    if (!trace_) return code;
    // Waits for the trace's reader to take what is queued; after Ctrl-C it waits no more.
    const bool whole = trace_->Close();
    const bool written = whole && trace_->Good() && std::fflush(traceFile_) == 0 && !std::ferror(traceFile_);
    if (whole && traceFile_ != stderr && std::fclose(traceFile_) != 0)
        code = std::max(code, int{EXIT_FAILED});
    std::size_t dropped = 0;
    for (const PortRun& p : runs_) dropped += p.line.traced ? p.line.traced->DroppedLines() : 0;
    if (dropped != 0) {
        // All of the line was asked for; a trace with holes is a failure to say.
        Say("the trace " + a_.trace + " is incomplete: " + std::to_string(dropped) +
            " lines were dropped while its reader did not keep up");
        code = std::max(code, int{EXIT_FAILED});
    } else if (!written && whole) {
        Say("cannot write the trace " + a_.trace);
        code = std::max(code, int{EXIT_FAILED});
    }
    return code;
}

int ReadConfiguration(const Arguments& a, bool forWriting, Configuration* file, std::vector<bool>* rows) {
    if (a.rest.size() != 1) return Usage(a.command + " takes one FILE");
    std::string bytes, error;
    if (!ReadWholeFile(a.rest[0], &bytes, &error)) return Usage(error);
    if (!ParseConfiguration(bytes, file, &error)) return Usage(a.rest[0] + ": " + Printable(error));
    if (a.rowsGiven && !ParseRowList(a.rows, rows, &error)) return Usage(error);
    if (forWriting && !UsableRows(*file, a.rowsGiven ? rows : nullptr, &error))
        return Usage(a.rest[0] + ": " + Printable(error));
    return EXIT_OK;
}

}  // namespace cli
