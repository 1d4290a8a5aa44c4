#include "station/Tray.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <utility>

#include "station/Log.h"
#include "tray/Platform.h"
#include "tray/PortWork.h"
#include "tray/Text.h"

namespace station {

using nlohmann::json;
using tray::Outcome;

namespace {

constexpr int64_t kProgressEveryMs = 100;  // a load's progress reaches the clients ten times a second
constexpr std::size_t kJobsKept = 512;     // finished jobs answered from memory; older ones from the history

json DifferenceJson(const tray::Difference& d) {
    return {{"row", d.row},
            {"param", d.param},
            {"index", d.index},
            {"file", d.fileValue},
            {"adapter", d.adapterValue},
            {"adapterAnswered", d.adapterAnswered},
            {"fileBytes", tray::HexOfBytes(d.fileBytes)},
            {"adapterBytes", tray::HexOfBytes(d.adapterBytes)}};
}

json ConfigurationJson(const tray::Configuration& config) {
    // The same document as krt42 read -o writes, as an object.
    return json::parse(tray::ConfigJson(config));
}

}  // namespace

Upload::~Upload() {
    if (!path.empty()) ::unlink(path.c_str());
}

std::string ShortName(const std::string& port) {
    return tray::PortFileName(port);
}

const char* OutcomeWord(int exit) {
    switch (exit) {
        case tray::EXIT_OK:
            return "success";
        case tray::EXIT_USAGE:
            return "usage";
        case tray::EXIT_NO_ADAPTER:
            return "no-adapter";
        case tray::EXIT_REFUSED:
            return "refused";
        case tray::EXIT_NO_ANSWER:
            return "no-answer";
        case tray::EXIT_PORT:
            return "line-failed";
        case tray::EXIT_READ_BACK:
            return "read-back";
        default:
            return exit >= tray::EXIT_INTERRUPTED ? "stopped" : "failed";
    }
}

// One port of the tray and what it is doing.
struct Tray::Slot {
    std::string name, path;
    tray::JobStop stop{false};
    std::thread thread;
    bool busy = false;
    int64_t job = 0;
    std::string kind;
    std::string phase = "idle";
    int speed = 0;
    int32_t sent = 0, total = 0;
    int restarts = 0;
    int64_t progressShownMs = 0;
    std::string version, number, board;
    json last;  // the last job's result, in short
    bool hasConfiguration = false;
    tray::Configuration configuration;  // of the last whole or partial read
    tray::JobRecord record;             // the running job's, for the history
};

// What a job tells on its way, turned into the slot's state and the clients' events.
class Tray::Runner : public tray::JobObserver {
  public:
    Runner(Tray& tray, Slot& slot) : tray_(tray), slot_(slot) {}

    void OnPhase(tray::Phase phase, int speed) override {
        {
            std::lock_guard<std::mutex> lock(tray_.mutex_);
            slot_.phase = tray::PhaseName(phase);
            if (speed != 0) slot_.speed = speed;
        }
        tray_.PublishPort(slot_);
    }
    void OnLoadProgress(int32_t sent, int32_t total, int restarts) override {
        const int64_t now = tray::NowMs();
        {
            std::lock_guard<std::mutex> lock(tray_.mutex_);
            const bool restarted = restarts != slot_.restarts;
            slot_.sent = sent;
            slot_.total = total;
            slot_.restarts = restarts;
            if (!restarted && now - slot_.progressShownMs < kProgressEveryMs) return;
            slot_.progressShownMs = now;
        }
        tray_.PublishPort(slot_);
    }
    void OnAppliedRow(const tray::AppliedRow& row) override {
        if (row.result == tray::AppliedRow::Planned) return;
        std::lock_guard<std::mutex> lock(tray_.mutex_);
        slot_.record.rows.push_back({row.d.row, row.d.param, row.d.index, row.d.adapterValue, row.d.fileValue,
                                     row.result == tray::AppliedRow::Refused
                                         ? std::string("refused: ") + row.refusal
                                         : std::string(tray::AppliedResultName(row.result))});
    }

  private:
    Tray& tray_;
    Slot& slot_;
};

Tray::Tray(const std::vector<std::string>& ports, Events& events, tray::History& history)
    : events_(events), history_(history) {
    for (const std::string& port : ports) {
        auto slot = std::make_unique<Slot>();
        slot->name = ShortName(port);
        slot->path = port;
        slots_.push_back(std::move(slot));
    }
}

Tray::~Tray() {
    StopAll();
}

bool Tray::Has(const std::string& name) const {
    for (const auto& slot : slots_) {
        if (slot->name == name) return true;
    }
    return false;
}

Tray::Slot* Tray::Find(const std::string& name) {
    for (const auto& slot : slots_) {
        if (slot->name == name) return slot.get();
    }
    return nullptr;
}

json Tray::SnapshotLocked(const Slot& s) const {
    json port = {{"name", s.name},
                 {"path", tray::Printable(s.path)},
                 {"state", s.phase},
                 {"speed", s.speed == 0 ? json(nullptr) : json(s.speed)},
                 {"adapter", s.version.empty() && s.number.empty() && s.board.empty()
                                 ? json(nullptr)
                                 : json{{"version", s.version}, {"number", s.number}, {"board", s.board}}},
                 {"last", s.last}};
    if (s.busy) {
        json job = {{"id", s.job}, {"kind", s.kind}};
        if (s.kind == "load")
            job["progress"] = {{"bytes", s.sent}, {"total", s.total}, {"restarts", s.restarts}};
        port["job"] = job;
    } else {
        port["job"] = nullptr;
    }
    return port;
}

nlohmann::json Tray::PortsJson() {
    std::lock_guard<std::mutex> lock(mutex_);
    json ports = json::array();
    for (const auto& slot : slots_) ports.push_back(SnapshotLocked(*slot));
    return ports;
}

nlohmann::json Tray::PortJson(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot* slot = Find(name);
    return slot == nullptr ? json(nullptr) : SnapshotLocked(*slot);
}

void Tray::PublishPort(Slot& slot) {
    std::string data;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        data = SnapshotLocked(slot).dump(-1, ' ', false, json::error_handler_t::replace);
    }
    events_.Publish("port", data);
}

bool Tray::Start(const std::vector<std::string>& names, const JobOrder& order, std::vector<int64_t>* jobs,
                 nlohmann::json* busy) {
    std::vector<Slot*> slots;
    std::vector<std::string> started;
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& name : names) {
            Slot* slot = Find(name);
            if (slot == nullptr) continue;  // the caller has checked the names
            if (slot->busy || stopping_) {
                *busy = stopping_ ? json{{"port", slot->name}, {"stopping", true}} : jobs_[slot->job];
                return false;
            }
            slots.push_back(slot);
        }
        for (Slot* slot : slots) {
            // The previous job's thread has finished its job (the slot is not busy); it may still be
            // telling the clients so, which takes this lock: it is joined outside it.
            if (slot->thread.joinable()) finished.push_back(std::move(slot->thread));
            tray::JobRecord& r = slot->record;
            r = tray::JobRecord();
            r.started = tray::HistoryNow();
            r.port = slot->path;
            r.kind = order.kind;
            r.state = "running";
            r.source = "station";
            r.speed = order.speed;
            if (order.program) {
                r.fileName = order.program->name;
                r.fileSize = order.program->size;
                r.fileSha256 = order.program->sha256;
            }
            // A job is recorded before it starts: a station killed in the middle leaves it to be
            // marked interrupted, never lost.
            r.id = history_.Begin(r);
            const int64_t id = r.id != 0 ? r.id : nextLocalId_--;
            slot->busy = true;
            slot->job = id;
            slot->kind = order.kind;
            slot->sent = slot->total = slot->restarts = 0;
            slot->progressShownMs = 0;
            slot->stop.Clear();
            jobs_[id] = {{"id", id},
                         {"port", slot->name},
                         {"kind", order.kind},
                         {"state", "running"},
                         {"started", r.started}};
            started.push_back(jobs_[id].dump(-1, ' ', false, json::error_handler_t::replace));
            jobs->push_back(id);
        }
    }
    for (std::thread& thread : finished) thread.join();
    for (size_t k = 0; k < slots.size(); ++k) {
        Slot* slot = slots[k];
        const int64_t id = (*jobs)[k];
        Log(slot->name + ": " + order.kind + " started (job " + std::to_string(id) + ")");
        events_.Publish("job", started[k]);
        PublishPort(*slot);
        slot->thread = std::thread([this, slot, order, id] { RunJob(*slot, order, id); });
    }
    return true;
}

void Tray::RunJob(Slot& slot, JobOrder order, int64_t id) {
    json result = {{"id", id}, {"port", slot.name}, {"kind", order.kind}};
    Outcome outcome;
    Runner runner(*this, slot);
    tray::JobRecord& record = slot.record;  // this thread's alone until Finish takes the lock
    const bool forLoad = order.kind == "load";
    tray::PortLine line;
    std::string error;
    if (!tray::MakePortLine(slot.path, forLoad, &line, &error)) {
        outcome = {tray::EXIT_USAGE, error};
    } else {
        tray::PortWork work(line, forLoad, slot.stop, runner);
        if (order.kind == "find") {
            int speed = 0;
            outcome = work.Find(&speed);
            if (outcome.exit == tray::EXIT_OK) result["speed"] = speed;
        } else if (order.kind == "read") {
            tray::Configuration config;
            outcome = work.Read(order.speed, &config);
            if (outcome.exit == tray::EXIT_OK || outcome.exit == tray::EXIT_NO_ANSWER) {
                result["configuration"] = ConfigurationJson(config);
                std::lock_guard<std::mutex> lock(mutex_);
                slot.configuration = config;
                slot.hasConfiguration = true;
                // Rows 2 to 4: the adapter's version, number and board code.
                slot.version = config.rows[2].answered ? config.rows[2].value : std::string();
                slot.number = config.rows[3].answered ? config.rows[3].value : std::string();
                slot.board = config.rows[4].answered ? config.rows[4].value : std::string();
                record.adapterVersion = slot.version;
                record.adapterNumber = slot.number;
                record.adapterBoard = slot.board;
            }
        } else if (order.kind == "write") {
            tray::WriteReport report;
            outcome = work.Write(order.speed, order.row, order.ansi, &report);
            std::string param, index;
            tray::RowNames(order.row, &param, &index);
            result["write"] = {{"row", order.row},     {"param", param},      {"index", index},
                               {"value", order.value}, {"sent", report.sent}, {"refusal", report.refusal}};
            std::lock_guard<std::mutex> lock(mutex_);
            record.rows.push_back({order.row, param, index, std::string(), order.value,
                                   outcome.exit == tray::EXIT_OK ? std::string("written") : outcome.message});
        } else if (order.kind == "diff") {
            tray::Configuration adapter;
            std::vector<tray::Difference> differences;
            outcome = work.Diff(order.speed, order.file, order.rowsGiven ? &order.rows : nullptr, &adapter,
                                &differences);
            if (outcome.exit == tray::EXIT_OK || outcome.exit == tray::EXIT_FAILED) {
                json list = json::array();
                for (const tray::Difference& d : differences) list.push_back(DifferenceJson(d));
                result["differences"] = list;
                if (outcome.exit == tray::EXIT_FAILED)
                    outcome.message = std::to_string(differences.size()) + " rows differ";
            }
        } else if (order.kind == "apply") {
            tray::Configuration adapter;
            tray::ApplyReport report;
            outcome = work.Apply(order.speed, order.file, order.rowsGiven ? &order.rows : nullptr,
                                 order.dryRun, &adapter, &report);
            if (report.planned) {
                json plan = json::array(), rows = json::array(), back = json::array();
                for (const tray::Difference& d : report.plan) plan.push_back(DifferenceJson(d));
                for (const tray::AppliedRow& r : report.rows) {
                    rows.push_back({{"row", r.d.row},
                                    {"param", r.d.param},
                                    {"index", r.d.index},
                                    {"from", r.d.adapterValue},
                                    {"to", r.d.fileValue},
                                    {"result", tray::AppliedResultName(r.result)},
                                    {"refusal", r.refusal}});
                }
                for (const tray::ReadBackRow& r : report.readBack) {
                    back.push_back({{"row", r.row},
                                    {"param", r.param},
                                    {"index", r.index},
                                    {"answered", r.answered},
                                    {"value", r.value},
                                    {"written", r.writtenValue}});
                }
                result["dryRun"] = report.dryRun;
                result["plan"] = plan;
                result["rows"] = rows;
                result["readBack"] = {{"verdict", report.ReadBackVerdict()}, {"rows", back}};
                result["summary"] = report.Summary();
                if (outcome.message.empty()) outcome.message = report.Summary();
            }
        } else if (order.kind == "load") {
            tray::LoadResult loaded;
            outcome = work.Load(order.speed, order.program->path, order.maxRestarts, &loaded);
            result["load"] = {{"sent", loaded.sent},
                              {"total", loaded.total},
                              {"restarts", loaded.restarts},
                              {"seconds", static_cast<double>(loaded.milliseconds) / 1000.0},
                              {"file", order.program->name},
                              {"size", order.program->size},
                              {"sha256", order.program->sha256}};
            if (loaded.lineFailed) result["outcome"] = "line-failed";
            if (loaded.speed != 0) result["speed"] = loaded.speed;
            std::lock_guard<std::mutex> lock(mutex_);
            record.bytesSent = loaded.sent;
            record.restarts = loaded.restarts;
            slot.sent = loaded.sent;
            slot.total = loaded.total;
            slot.restarts = loaded.restarts;
        }
        if (!result.contains("speed")) result["speed"] = work.Speed() != 0 ? work.Speed() : order.speed;
    }
    const bool stopped = outcome.exit >= tray::EXIT_INTERRUPTED;
    if (outcome.message.empty())
        outcome.message = stopped ? "stopped" : outcome.exit == 0 ? "done" : "failed";
    result["exit"] = outcome.exit;
    // A load that the line cut short is a line failure to a person, though krt42 says 1 for it.
    if (!result.contains("outcome")) result["outcome"] = OutcomeWord(outcome.exit);
    result["state"] = outcome.exit == tray::EXIT_OK ? "done" : stopped ? "stopped" : "failed";
    result["text"] = outcome.message;
    Finish(slot, id, std::move(result));
}

void Tray::Finish(Slot& slot, int64_t id, nlohmann::json result) {
    std::string data;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tray::JobRecord& r = slot.record;
        result["started"] = r.started;
        result["ended"] = tray::HistoryNow();
        r.ended = result["ended"].get<std::string>();
        r.exitCode = result["exit"].get<int>();
        r.state = result["state"].get<std::string>();
        r.result = result["text"].get<std::string>();
        if (result.contains("speed") && result["speed"].is_number()) r.speed = result["speed"].get<int>();
        if (r.id != 0 && !history_.End(r))
            Log(slot.name + ": cannot record job " + std::to_string(id) + ": " + history_.Error());
        slot.busy = false;
        slot.phase = "idle";
        if (r.speed != 0) slot.speed = r.speed;
        slot.last = {{"job", id},
                     {"kind", slot.kind},
                     {"exit", result["exit"]},
                     {"outcome", result["outcome"]},
                     {"text", result["text"]},
                     {"ended", result["ended"]}};
        jobs_[id] = result;
        while (jobs_.size() > kJobsKept && jobs_.begin()->first != id) jobs_.erase(jobs_.begin());
        data = result.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    Log(slot.name + ": " + slot.kind + " " + result["state"].get<std::string>() + " (job " +
        std::to_string(id) + ", exit " + std::to_string(result["exit"].get<int>()) + ")");
    events_.Publish("job", data);
    PublishPort(slot);
    ended_.notify_all();
}

int64_t Tray::Stop(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot* slot = Find(name);
    if (slot == nullptr || !slot->busy) return 0;
    slot->stop.Request();
    return slot->job;
}

void Tray::StopAll() {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const auto& slot : slots_) {
        if (slot->busy) slot->stop.Request();
    }
    ended_.wait(lock, [this] {
        for (const auto& slot : slots_) {
            if (slot->busy) return false;
        }
        return true;
    });
    for (const auto& slot : slots_) {
        if (slot->thread.joinable()) {
            std::thread thread = std::move(slot->thread);
            lock.unlock();
            thread.join();
            lock.lock();
        }
    }
}

bool Tray::Job(int64_t id, nlohmann::json* job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = jobs_.find(id);
        if (found != jobs_.end()) {
            *job = found->second;
            return true;
        }
        tray::JobRecord record;
        if (id > 0 && history_.Find(id, &record)) {
            *job = json::parse(tray::HistoryRecordJson(record));
            return true;
        }
    }
    return false;
}

bool Tray::WaitJob(int64_t id, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        const auto found = jobs_.find(id);
        return found == jobs_.end() || found->second.value("state", "") != "running";
    });
}

bool Tray::LastConfiguration(const std::string& name, tray::Configuration* config) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot* slot = Find(name);
    if (slot == nullptr || !slot->hasConfiguration) return false;
    *config = slot->configuration;
    return true;
}

}  // namespace station
