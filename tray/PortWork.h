// The work of one port, as the command line and the station both do it: find the adapter, read its
// table, write a row, compare with or apply a configuration, load a program. Each call runs to its
// end on the calling thread (the port's own), ticking every 20 ms, and says how it ended; what it
// is doing meanwhile goes to a JobObserver. Nothing here prints: the callers tell their users.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/ComDriver.h"
#include "serial/SerialApi.h"
#include "tray/Configuration.h"
#include "tray/Exit.h"
#include "tray/Jobs.h"
#include "tray/Stop.h"
#include "tray/Trace.h"

namespace tray {

// A port as a command or the tray names it, with the serial API that reaches it: the platform's,
// or a trace in front of it.
struct PortLine {
    std::string name;
    unsigned number = 0;  // the driver's port number for it
    std::unique_ptr<serial::SerialApi> api;
    std::unique_ptr<TracingSerialApi> traced;

    serial::SerialApi& Api() { return traced ? static_cast<serial::SerialApi&>(*traced) : *api; }
};

// The line of a named port; false with the reason when the name is no port. `forLoad`: the
// loader's line (an XOFF from the adapter holds our output).
bool MakePortLine(const std::string& name, bool forLoad, PortLine* line, std::string* error);

// What a port's job is doing.
enum class Phase { Idle, Searching, Connected, Reading, Writing, Loading };
const char* PhaseName(Phase phase);

// One row of an apply: what was planned and how its write ended.
struct AppliedRow {
    enum Result { Planned, Written, Refused, Unanswered, NotSent, LineFailed };
    Difference d;
    Result result = Planned;
    std::string refusal;  // the adapter's text, UTF-8
};
const char* AppliedResultName(AppliedRow::Result result);

// A written row whose read-back is not what was written: no answer, or other bytes.
struct ReadBackRow {
    int row = 0;
    std::string param, index;
    bool answered = false;
    std::string value, bytes;                // what the adapter answers now (shown text, its bytes)
    std::string writtenValue, writtenBytes;  // what was written
};

struct ApplyReport {
    bool planned = false;  // the read before the writes was whole, and the plan made
    std::vector<Difference> plan;
    std::vector<AppliedRow> rows;
    int written = 0, refused = 0, unanswered = 0;
    bool dryRun = false;
    bool readBackDone = false;
    std::vector<ReadBackRow> readBack;  // only the rows that disagree or got no answer
    int disagree = 0, unknown = 0;

    // "read-back agrees", "read-back differs in 2 rows", ...
    std::string ReadBackVerdict() const;
    // The last line of an apply: "apply: 3 rows differ; 1 written, ..." or the dry run's.
    std::string Summary() const;
};

// How a write of one row ended, besides its exit code.
struct WriteReport {
    bool sent = false;
    std::string refusal;  // UTF-8
};

// What a port's job tells while it runs, on the port's own thread. Each call is short: a display
// notes what it needs and shows it elsewhere.
class JobObserver {
  public:
    virtual ~JobObserver() = default;
    virtual void OnPhase(Phase phase, int speed) {}
    virtual void OnLoadProgress(int32_t sent, int32_t total, int restarts) {}
    // An apply row as soon as it has ended, and each read-back row that disagrees.
    virtual void OnAppliedRow(const AppliedRow& row) {}
    virtual void OnReadBackRow(const ReadBackRow& row) {}
};

// How a job ended: its exit code and, when it failed, one line for the user ("" otherwise).
struct Outcome {
    int exit = EXIT_OK;
    std::string message;
};

// The jobs of one port. Each opens the port as it needs it and leaves it open for the next; the
// port is closed when the PortWork ends. Not thread-safe: one thread runs a port's jobs.
class PortWork {
  public:
    PortWork(PortLine& line, bool forLoad, const JobStop& stop, JobObserver& observer);
    ~PortWork();
    PortWork(const PortWork&) = delete;
    PortWork& operator=(const PortWork&) = delete;

    // The configurator's speed search. EXIT_NO_ADAPTER comes with "no adapter on P".
    Outcome Find(int* speed);
    // The 104 rows, into `config` (also when some went unanswered: EXIT_NO_ANSWER). speed 0:
    // search first.
    Outcome Read(int speed, Configuration* config);
    // One row, `ansi` in Windows-1251 (or the adapter's own bytes).
    Outcome Write(int speed, int row, const std::string& ansi, WriteReport* report);
    // The rows a write of `file` would change; needs a whole read.
    Outcome Diff(int speed, const Configuration& file, const std::vector<bool>* rows, Configuration* adapter,
                 std::vector<Difference>* differences);
    // Writes those rows in row order and reads them back; `report` tells each row.
    Outcome Apply(int speed, const Configuration& file, const std::vector<bool>* rows, bool dryRun,
                  Configuration* adapter, ApplyReport* report);
    // The program at `corePath` (the name the core's file calls take). speed 0: the loader's
    // default.
    Outcome Load(int speed, const std::string& corePath, int maxRestarts, LoadResult* result);

    // The line speed in use, 0 before a find or an open.
    int Speed() const;
    // Called after every tick of every job (the trace writes itself out there).
    void AfterTick();

  private:
    // The configurator's link over this port, made by the first job that needs it.
    void MakeLink();
    Outcome Connect(int speed);
    Outcome ReadTable(Configuration* config);
    Outcome Stopped() const;
    std::string CannotOpen() const;
    std::string LineFailed() const;

    PortLine& line_;
    const JobStop& stop_;
    JobObserver& observer_;
    serial::ComDriver com_;
    std::unique_ptr<LinkJob> link_;
    bool open_ = false;
};

}  // namespace tray
