#include "tray/PortWork.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include "configurator/ParameterTable.h"
#include "loader/LoaderPort.h"
#include "tray/Platform.h"
#include "tray/Text.h"

namespace tray {

bool MakePortLine(const std::string& name, bool forLoad, PortLine* line, std::string* error) {
    line->name = name;
    line->api = SerialApiFor(name, forLoad, &line->number, error);
    return line->api != nullptr;
}

const char* PhaseName(Phase phase) {
    switch (phase) {
        case Phase::Searching:
            return "searching";
        case Phase::Connected:
            return "connected";
        case Phase::Reading:
            return "reading";
        case Phase::Writing:
            return "writing";
        case Phase::Loading:
            return "loading";
        default:
            return "idle";
    }
}

const char* AppliedResultName(AppliedRow::Result result) {
    switch (result) {
        case AppliedRow::Written:
            return "written";
        case AppliedRow::Refused:
            return "refused";
        case AppliedRow::Unanswered:
            return "unanswered";
        case AppliedRow::NotSent:
            return "not sent";
        case AppliedRow::LineFailed:
            return "line failed";
        default:
            return "planned";
    }
}

std::string ApplyReport::ReadBackVerdict() const {
    if (!readBackDone) return "nothing to read back";
    if (disagree == 0 && unknown == 0) return "read-back agrees";
    if (disagree == 0) return "read-back got no answer for " + std::to_string(unknown) + " rows";
    std::string text = "read-back differs in " + std::to_string(disagree) + " rows";
    if (unknown != 0) text += ", no answer for " + std::to_string(unknown);
    return text;
}

std::string ApplyReport::Summary() const {
    const std::string head = "apply: " + std::to_string(plan.size()) + " rows differ; ";
    if (dryRun) return head + "dry run, nothing written";
    return head + std::to_string(written) + " written, " + std::to_string(refused) + " refused, " +
           std::to_string(unanswered) + " unanswered; " + ReadBackVerdict();
}

PortWork::PortWork(PortLine& line, bool forLoad, const JobStop& stop, JobObserver& observer)
    : line_(line),
      stop_(stop),
      observer_(observer),
      com_(forLoad ? serial::ComVariant::Loader : serial::ComVariant::Configurator, line.Api()) {}

PortWork::~PortWork() {
    // Ends a write worker that a stalled line holds, and gives the port back.
    link_.reset();
    com_.Command(serial::COM_CLOSE, nullptr);
    AfterTick();
}

void PortWork::AfterTick() {
    if (line_.traced) line_.traced->Flush();
}

int PortWork::Speed() const {
    return link_ ? link_->Speed() : 0;
}

Outcome PortWork::Stopped() const {
    return {stop_.Code(), std::string()};
}

std::string PortWork::CannotOpen() const {
    const std::string trouble = PortTrouble(line_.name);
    return "cannot open " + line_.name + (trouble.empty() ? std::string() : ": " + trouble);
}

std::string PortWork::LineFailed() const {
    const std::string trouble = PortTrouble(line_.name);
    return "the line to " + line_.name + " failed" + (trouble.empty() ? std::string() : ": " + trouble);
}

void PortWork::MakeLink() {
    if (link_) return;
    link_ = std::make_unique<LinkJob>(com_, line_.number, stop_);
    link_->afterTick = [this] { AfterTick(); };
}

Outcome PortWork::Find(int* speed) {
    MakeLink();
    observer_.OnPhase(Phase::Searching, 0);
    switch (link_->Find(speed)) {
        case EXIT_OK:
            open_ = true;
            observer_.OnPhase(Phase::Connected, *speed);
            return {};
        case EXIT_NO_ADAPTER:
            return {EXIT_NO_ADAPTER, "no adapter on " + line_.name};
        case EXIT_PORT:
            return {EXIT_PORT, CannotOpen()};
        default:
            return Stopped();
    }
}

// Finds the adapter, or opens the port at the given speed.
Outcome PortWork::Connect(int speed) {
    if (open_) return {};
    if (speed == 0) {
        int found = 0;
        return Find(&found);
    }
    MakeLink();
    if (link_->OpenAt(speed) != EXIT_OK) return {EXIT_PORT, CannotOpen()};
    open_ = true;
    observer_.OnPhase(Phase::Connected, speed);
    return {};
}

Outcome PortWork::ReadTable(Configuration* config) {
    observer_.OnPhase(Phase::Reading, link_->Speed());
    const Exit read = link_->Read();
    observer_.OnPhase(Phase::Connected, link_->Speed());
    if (read == EXIT_PORT) return {EXIT_PORT, LineFailed()};
    if (read >= EXIT_INTERRUPTED) return Stopped();
    config->tool = ToolText();
    // A name that is no UTF-8 would make a file that no JSON reader takes, ours included.
    config->port = Printable(line_.name);
    config->speed = link_->Speed();
    config->time = UtcTimeText(static_cast<int64_t>(std::time(nullptr)));
    config->rows.clear();
    for (int row = 0; row < configurator::PARAM_ROW_COUNT; ++row) {
        const RowResult r = link_->Row(row);
        config->rows.push_back(TableRow(row, r.value, r.unit, r.answered, &r.bytes));
    }
    if (read == EXIT_NO_ANSWER) {
        return {EXIT_NO_ANSWER, std::to_string(link_->UnansweredRows()) + " of " +
                                    std::to_string(configurator::PARAM_ROW_COUNT) +
                                    " rows got no answer from the adapter (marked no)"};
    }
    return {};
}

Outcome PortWork::Read(int speed, Configuration* config) {
    const Outcome connected = Connect(speed);
    if (connected.exit != EXIT_OK) return connected;
    return ReadTable(config);
}

Outcome PortWork::Write(int speed, int row, const std::string& ansi, WriteReport* report) {
    const Outcome connected = Connect(speed);
    if (connected.exit != EXIT_OK) return connected;
    observer_.OnPhase(Phase::Writing, link_->Speed());
    const WriteResult result = link_->Write(row, ansi);
    observer_.OnPhase(Phase::Connected, link_->Speed());
    report->sent = result.sent;
    report->refusal = Utf8FromAnsi(result.refusal);
    switch (result.exit) {
        case EXIT_OK:
            return {};
        case EXIT_USAGE:
            return {EXIT_USAGE, "the value cannot be sent"};
        case EXIT_REFUSED:
            return {EXIT_REFUSED, "refused: " + report->refusal};
        case EXIT_NO_ANSWER:
            return {EXIT_NO_ANSWER,
                    result.sent ? "no reply to the write within 2 s"
                                : "the write could not be sent: the line still holds earlier requests"};
        case EXIT_PORT:
            return {EXIT_PORT, LineFailed()};
        default:
            return Stopped();
    }
}

Outcome PortWork::Diff(int speed, const Configuration& file, const std::vector<bool>* rows,
                       Configuration* adapter, std::vector<Difference>* differences) {
    const Outcome read = Read(speed, adapter);
    if (read.exit != EXIT_OK) return read;
    *differences = Differences(file, *adapter, rows);
    return {differences->empty() ? EXIT_OK : EXIT_FAILED, std::string()};
}

Outcome PortWork::Apply(int speed, const Configuration& file, const std::vector<bool>* rows, bool dryRun,
                        Configuration* adapter, ApplyReport* report) {
    // Without a whole read, which rows differ is not known: nothing is written.
    const Outcome read = Read(speed, adapter);
    if (read.exit != EXIT_OK) return read;
    report->plan = Differences(file, *adapter, rows);
    report->planned = true;
    report->dryRun = dryRun;
    if (dryRun) {
        for (const Difference& d : report->plan) {
            report->rows.push_back({d, AppliedRow::Planned, std::string()});
            observer_.OnAppliedRow(report->rows.back());
        }
        return {};
    }
    int code = EXIT_OK;
    std::vector<const Difference*> accepted;
    for (const Difference& d : report->plan) {
        AppliedRow applied{d, AppliedRow::Written, std::string()};
        // The bytes were checked before the port was opened: the adapter's own for a clone, the
        // typed text in Windows-1251 otherwise.
        observer_.OnPhase(Phase::Writing, link_->Speed());
        const WriteResult result = link_->Write(d.row, d.fileBytes);
        observer_.OnPhase(Phase::Connected, link_->Speed());
        if (result.exit == EXIT_OK) {
            ++report->written;
            accepted.push_back(&d);
        } else if (result.exit == EXIT_REFUSED) {
            ++report->refused;
            code = std::max(code, static_cast<int>(EXIT_REFUSED));
            applied.result = AppliedRow::Refused;
            applied.refusal = Utf8FromAnsi(result.refusal);
        } else if (result.exit == EXIT_NO_ANSWER || result.exit == EXIT_USAGE) {
            // A row that could not go out is as unknown as one whose reply never came: the rest
            // are still tried.
            ++report->unanswered;
            code = std::max(code, static_cast<int>(EXIT_NO_ANSWER));
            applied.result = result.sent ? AppliedRow::Unanswered : AppliedRow::NotSent;
        } else if (result.exit == EXIT_PORT) {
            applied.result = AppliedRow::LineFailed;
            report->rows.push_back(applied);
            observer_.OnAppliedRow(applied);
            return {EXIT_PORT, LineFailed()};
        } else {
            return Stopped();
        }
        report->rows.push_back(applied);
        observer_.OnAppliedRow(applied);
    }
    if (accepted.empty()) return {code, std::string()};
    // Only what the adapter answers now counts: the table still holds what the writes put in
    // it, which says nothing of what the adapter kept.
    Configuration after;
    const Outcome again = ReadTable(&after);
    if (again.exit == EXIT_PORT || again.exit >= EXIT_INTERRUPTED)
        return {std::max(code, again.exit), again.message};
    report->readBackDone = true;
    for (const Difference* d : accepted) {
        const ConfigRow& now = after.rows[static_cast<size_t>(d->row)];
        if (now.answered && now.bytes == d->fileBytes) continue;
        ReadBackRow r{d->row,    d->param,  d->index,     now.answered,
                      now.value, now.bytes, d->fileValue, d->fileBytes};
        ++(now.answered ? report->disagree : report->unknown);
        report->readBack.push_back(r);
        observer_.OnReadBackRow(r);
    }
    if (report->disagree != 0) code = std::max(code, static_cast<int>(EXIT_READ_BACK));
    if (report->unknown != 0) code = std::max(code, static_cast<int>(EXIT_NO_ANSWER));
    return {code, std::string()};
}

Outcome PortWork::Load(int speed, const std::string& corePath, int maxRestarts, LoadResult* result) {
    LoadJob job(com_, line_.number, stop_);
    const int bps = speed != 0 ? speed : loader::SpeedAt(loader::DEFAULT_SPEED_INDEX);
    if (job.Open(bps) != EXIT_OK) return {EXIT_PORT, CannotOpen()};
    observer_.OnPhase(Phase::Loading, bps);
    job.afterTick = [&] {
        AfterTick();
        observer_.OnLoadProgress(job.Position(), job.Total(), job.Restarts());
    };
    std::string error;
    *result = job.Load(corePath, maxRestarts, &error);
    result->speed = bps;
    observer_.OnPhase(Phase::Idle, bps);
    if (result->exit == EXIT_USAGE) return {EXIT_USAGE, Utf8FromAnsi(error)};
    if (result->exit >= EXIT_INTERRUPTED) return Stopped();
    if (result->exit != EXIT_OK) return {result->exit, result->reason};
    return {};
}

}  // namespace tray
