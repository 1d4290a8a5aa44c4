// What krt42 writes: data on standard output, messages and progress on standard error, output
// files that appear whole or not at all. Several ports' threads write through here, a line at a
// time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/ConfigFile.h"

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

// A file given with -o: made beside the target under a temporary name before any port is
// touched, put in its place only once everything is written.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Prepare(const std::string& path, std::string* error);
    bool Commit(const std::string& text, std::string* error);
    const std::string& Path() const { return path_; }

  private:
    std::string path_, temp_;
    std::FILE* file_ = nullptr;
};

// The rows as an aligned table for a person: control characters shown as \xNN.
std::string TableText(const std::vector<ConfigRow>& rows);

// The progress of one or more loads on standard error: on a terminal a line per port redrawn in
// place, otherwise a plain line per port every second.
class LoadProgress {
  public:
    explicit LoadProgress(const std::vector<std::string>& ports);
    void Update(size_t port, int32_t done, int32_t total, int restarts, bool last);

  private:
    std::string Line(size_t port) const;

    struct State {
        int32_t done = 0, total = 0;
        int restarts = 0;
        bool shown = false;
        int64_t lastShownMs = -1;
    };
    std::vector<std::string> ports_;
    std::vector<State> states_;
    bool terminal_;
    bool drawn_ = false;
    int64_t lastDrawMs_ = -1;
};

}  // namespace cli
