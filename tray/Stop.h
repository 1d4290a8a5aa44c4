// The stop of one port's job. krt42 stops every job on a signal to the process; the station stops a
// port's job when its user asks, and all of them when it is told to end.
#pragma once

#include <atomic>

#include "tray/Exit.h"
#include "tray/Platform.h"

namespace tray {

class JobStop {
  public:
    // followSignals: a signal to the process (Ctrl-C, hang-up, terminate) stops the job too.
    explicit JobStop(bool followSignals) : followSignals_(followSignals) {}
    JobStop(const JobStop&) = delete;
    JobStop& operator=(const JobStop&) = delete;

    void Request() { requested_ = true; }
    // A new job on the same port starts unstopped.
    void Clear() { requested_ = false; }
    bool Requested() const { return requested_ || (followSignals_ && Interrupted()); }
    // How a stopped job ends: 128 and the signal's number, or EXIT_STOPPED for a user's stop.
    int Code() const {
        return !requested_ && followSignals_ && Interrupted() ? EXIT_INTERRUPTED + StopSignal()
                                                              : EXIT_STOPPED;
    }

  private:
    const bool followSignals_;
    std::atomic<bool> requested_{false};
};

}  // namespace tray
