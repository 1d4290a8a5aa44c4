// What krt42 writes: data on standard output, messages and progress on standard error, output
// files that appear whole or not at all. Several ports' threads write through here, a line at a
// time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/Mutex.h"
#include "tray/Configuration.h"
#include "tray/Platform.h"
#include "tray/PortWork.h"

namespace cli {

// Standard output as a script reads it: every write checked, the first failure kept.
class DataOutput {
  public:
    // `open`: whether standard output existed when we started.
    static void Init(bool open);
    // Writes `text`; with `prefix`, before each of its lines. False once any write failed.
    static bool Put(const std::string& text, const std::string& prefix = std::string());
    // Flushes and tells the first failure ("" when everything went out).
    static std::string Finish();
};

// One line on standard error, "krt42: " in front; a failure to write it changes nothing.
void Say(const std::string& line);

// A file given with -o, prepared before any port is touched. A new or regular file is made beside
// its target under a temporary name and put in its place only once everything is written; a
// symbolic link is followed, never replaced. A FIFO or a device that is no terminal is written as
// it is (as cp does). A terminal, one of the command's ports, or anything else is refused.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // EXIT_OK, or the exit code with the reason in `*error`: EXIT_USAGE for a target that must
    // not be written, EXIT_FAILED for one that cannot be.
    int Prepare(const std::string& path, const std::vector<std::string>& ports, std::string* error);
    bool Commit(const std::string& text, std::string* error);
    const std::string& Path() const { return path_; }

  private:
    std::string path_, target_, temp_;
    std::FILE* file_ = nullptr;
};

// Why a name given for writing (-o, --trace) must not be written: a terminal (which may be a serial
// line) or one of the ports; "" when it may. `*kind` and `*resolved` tell what it leads to.
std::string ForbiddenTarget(const std::string& path, const std::vector<std::string>& ports,
                            tray::TargetKind* kind, std::string* resolved);

// The lines of the port commands, as a person and a script read them.
// "052:07", or "003" for a plain parameter's row.
std::string RowName(const std::string& param, const std::string& index);
// A value in quotes, control characters as \xNN.
std::string Quoted(const std::string& utf8);
// "row 12  052:07  file \"15\"  adapter \"0\"", with the bytes in hex where the texts look alike.
std::string DifferenceLine(const tray::Difference& d);
// "row 7  052:02  \"2\" -> \"9\"  written".
std::string AppliedLine(const tray::AppliedRow& row);
// "row 12  052:07  read back \"0\", written \"15\"" or "... read back: no answer".
std::string ReadBackLine(const tray::ReadBackRow& row);

// Columns aligned by the characters a terminal shows, two blanks apart; the first line a header.
std::string AlignedTable(const std::vector<std::vector<std::string>>& table);
// The rows as an aligned table for a person: control characters shown as \xNN.
std::string TableText(const std::vector<tray::ConfigRow>& rows);

// The progress of one or more loads on standard error: on a terminal a line per port redrawn in
// place, otherwise a plain line per port every second. The jobs' threads only note where they
// are; the main thread shows it (Show), so that a standard error that blocks (a paused pager)
// never holds up a tick. A job's last word is shown by its own thread, at its end.
class LoadProgress {
  public:
    explicit LoadProgress(const std::vector<std::string>& ports);
    void Update(size_t port, int32_t done, int32_t total, int restarts, bool last);
    // What has changed, when it is time to show it again (all ports, or only one).
    void Show(size_t only = SIZE_MAX);

  private:
    struct State {
        int32_t done = 0, total = 0;
        int restarts = 0;
        bool started = false;
        bool finished = false;
    };
    struct Shown {
        int64_t ms = -1;    // when the port's line was last shown
        bool last = false;  // its last word is out
    };
    std::string Line(const State& s, size_t port) const;

    std::vector<std::string> ports_;
    fw::Mutex stateLock_;
    std::vector<State> states_;  // what the jobs noted, under stateLock_
    std::vector<Shown> shown_;   // what was shown, under the output lock
    bool terminal_;
    bool drawn_ = false;
    int64_t lastDrawMs_ = -1;
};

}  // namespace cli
