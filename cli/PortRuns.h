// What every port command of krt42 does around its ports' jobs: it gathers and checks the ports
// before anything is opened, opens the trace and the history, runs one job per port on a thread of
// its own (a port that fails never stops another), shows the loads' progress from this thread, and
// gives the worst of the ports' exit codes.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Output.h"
#include "tray/History.h"
#include "tray/PortWork.h"
#include "tray/Stop.h"

namespace cli {

// One port of a command.
struct PortRun {
    size_t index = 0;
    std::string prefix;  // "PORT: " before every line when there are several ports
    tray::PortLine line;
    tray::JobRecord record;  // what --history keeps of the job
    int exit = tray::EXIT_OK;

    const std::string& Name() const { return line.name; }
    // Says `message` on standard error, with the prefix; keeps it as the job's result. Gives `code`.
    int Fail(int code, const std::string& message);
};

// A usage error: said, and EXIT_USAGE.
int Usage(const std::string& message);

class PortRuns {
  public:
    using Body = std::function<int(PortRun& run, tray::PortWork& work)>;

    // kind: the command's name, as the history records it. forLoad: the loader's line.
    PortRuns(const Arguments& a, const char* kind, bool forLoad);
    ~PortRuns();

    // The ports of --port and --ports-from; several only where `many`. EXIT_OK, or the exit code
    // with the reason said.
    int Gather(bool many);
    const std::vector<std::string>& Ports() const { return ports_; }

    // After the command's own checks: the trace and the history open, each port gets its line.
    // Nothing has touched a port yet.
    int Prepare();

    // The job of every port, each on a thread of its own; `progress` (loads) is shown from here
    // meanwhile. The worst exit code of them.
    int Run(const Body& body, LoadProgress* progress = nullptr);

  private:
    class Thread;
    class Observer;
    void RunOne(PortRun& run, const Body& body, LoadProgress* progress);
    int CloseTrace(int code);

    const Arguments& a_;
    const char* kind_;
    bool forLoad_;
    std::vector<std::string> ports_;
    std::vector<PortRun> runs_;
    tray::JobStop stop_{true};
    std::FILE* traceFile_ = nullptr;
    std::unique_ptr<tray::QueuedTraceWriter> trace_;
};

// The whole configuration file given to diff and apply, read and checked: EXIT_OK, or the exit
// code with the reason said. `forWriting`: every row it would write must be sendable.
int ReadConfiguration(const Arguments& a, bool forWriting, tray::Configuration* file,
                      std::vector<bool>* rows);

}  // namespace cli
