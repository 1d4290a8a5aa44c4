// The station's tray: exactly the ports it was given, each with one job at a time on a thread of its
// own, what it is doing now (read by the HTTP threads as snapshots under a lock, never by touching
// a port), and the results of its jobs. Every job goes through the same per-port work as krt42.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station/Events.h"
#include "tray/Configuration.h"
#include "tray/History.h"
#include "tray/Stop.h"

#include <nlohmann/json.hpp>

namespace station {

// A program file posted for a load: kept in the state folder while its loads run.
struct Upload {
    std::string path;  // the file the loader reads
    std::string name;  // as the client named it
    std::string sha256;
    int64_t size = 0;
    ~Upload();
};

// A job asked of the station, its values already checked.
struct JobOrder {
    std::string kind;  // find, read, write, diff, apply, load
    int speed = 0;     // 0: search (load: the loader's default)
    // write
    int row = -1;
    std::string ansi, value;  // the value in Windows-1251, and as given
    // diff and apply
    tray::Configuration file;
    bool rowsGiven = false;
    std::vector<bool> rows;
    bool dryRun = false;
    // load
    std::shared_ptr<Upload> program;
    int maxRestarts = 10;
};

// The tray's name of a port: the last part of its path, as krt42 puts it for {port}.
std::string ShortName(const std::string& port);

class Tray {
  public:
    // `history` is the station's own, written under the tray's lock.
    Tray(const std::vector<std::string>& ports, Events& events, tray::History& history);
    ~Tray();
    Tray(const Tray&) = delete;
    Tray& operator=(const Tray&) = delete;

    bool Has(const std::string& name) const;

    nlohmann::json PortsJson();
    nlohmann::json PortJson(const std::string& name);

    // Starts `order` on every named port, or on none when any of them is busy: false then, with the
    // busy port's running job in `*busy`. `*jobs` gets the new jobs' ids.
    bool Start(const std::vector<std::string>& names, const JobOrder& order, std::vector<int64_t>* jobs,
               nlohmann::json* busy);
    // Stops the port's job as its user's stop; the job's id, or 0 when none ran.
    int64_t Stop(const std::string& name);
    // Stops every job and waits for all of them to end (the station stops).
    void StopAll();

    // A job: its result once it has ended, or where it stands. False for an unknown id.
    bool Job(int64_t id, nlohmann::json* job);
    // Waits up to `timeoutMs` for the job to end; false when it has not.
    bool WaitJob(int64_t id, int timeoutMs);

    // The configuration document of the port's last read; false before any.
    bool LastConfiguration(const std::string& name, tray::Configuration* config);

  private:
    struct Slot;
    class Runner;
    Slot* Find(const std::string& name);
    void RunJob(Slot& slot, JobOrder order, int64_t id);
    void PublishPort(Slot& slot);
    nlohmann::json SnapshotLocked(const Slot& slot) const;
    void Finish(Slot& slot, int64_t id, nlohmann::json result);

    Events& events_;
    tray::History& history_;
    mutable std::mutex mutex_;  // guards the slots' state, the jobs and the history
    std::condition_variable ended_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::map<int64_t, nlohmann::json> jobs_;  // running and recent jobs
    int64_t nextLocalId_ = -1;                // ids when the history could not record a job
    bool stopping_ = false;
};

// krt42's exit code as one word for a page: success, failed, usage, no-adapter, refused, no-answer,
// line-failed, read-back, stopped.
const char* OutcomeWord(int exit);

}  // namespace station
