// A host for the simulated adapter that records everything and plays the line.
#pragma once

#include <string>
#include <vector>

#include "simulator/SimEngine.h"

namespace simtest {

using sim::Bytes;

class FakeHost : public sim::SimHost {
  public:
    std::vector<std::string> log;
    Bytes captured;
    sim::LineInfo line{true, 9600, true, false, false};
    int lineQueries = 0;
    int unplugs = 0, replugs = 0, quits = 0;
    int speedSet = 0;

    void Log(const std::string& l) override { log.push_back(l); }
    sim::LineInfo Line(int) override {
        ++lineQueries;
        return line;
    }
    void Capture(const uint8_t* b, std::size_t n) override { captured.insert(captured.end(), b, b + n); }
    bool Unplug(std::string&) override { return ++unplugs, true; }
    bool Replug(std::string& detail) override {
        ++replugs;
        detail = "/dev/pts/99";
        return true;
    }
    bool SetSpeed(int bps, std::string&) override { return speedSet = bps, true; }
    void Quit() override { ++quits; }

    bool Logged(const std::string& prefix) const {
        for (const std::string& l : log)
            if (l.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
};

// Everything the engine has queued, whatever its time.
inline Bytes Drain(sim::Engine& e) {
    Bytes all;
    while (e.HasOutput()) {
        Bytes piece = e.TakeDue(e.NextDue());
        all.insert(all.end(), piece.begin(), piece.end());
    }
    return all;
}

inline void Feed(sim::Engine& e, const Bytes& b, int64_t now = 0) {
    e.OnReceived(b.data(), b.size(), now);
}

}  // namespace simtest
