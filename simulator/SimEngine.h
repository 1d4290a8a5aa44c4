// The simulated adapter as a whole, free of any device: it takes the bytes that arrive on the
// line, decides what goes back and when, and runs the control commands. The program around it
// (krt42sim) owns the line, the clock, the log file and stdin.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "simulator/AdapterModel.h"
#include "simulator/SimFrames.h"
#include "simulator/SimOptions.h"

namespace sim {

// What a piece of output does to the program's writes besides its bytes: the XOFF and XON of a
// stall hold and release them even where the program's end has no software flow control.
enum class Flow { None, Hold, Release };

// The line's settings as the program on the other end left them.
struct LineInfo {
    bool known = false;
    int speed = 0;
    bool cs8 = false;
    bool parenb = false;
    bool cstopb = false;
};

class SimHost {
  public:
    virtual ~SimHost() = default;
    virtual void Log(const std::string& line) = 0;
    // The settings now in force. When the speed differs from want (if above 0), the host may look
    // again for a short while: a program's speed change reaches the line with a little delay.
    virtual LineInfo Line(int want) = 0;
    // Loader mode: every received byte, in order.
    virtual void Capture(const uint8_t* bytes, std::size_t n) = 0;
    // Commands that act on the device. Each returns false with a reason when it cannot.
    virtual bool Unplug(std::string& detail) = 0;
    virtual bool Replug(std::string& detail) = 0;
    virtual bool SetSpeed(int bps, std::string& detail) = 0;
    virtual void Quit() = 0;
};

struct Stats {
    long rxBytes = 0;
    long frames = 0;  // good request frames
    long answered = 0;
    long unanswered = 0;  // good frames the adapter has no answer for
    long ignored = 0;     // good frames at a foreign line speed
    long silenced = 0;    // good frames while silent
    long badCrc = 0;
    long malformed = 0;
    long noise = 0;  // bytes outside any frame
    long txBytes = 0;
    long rSent = 0;
};

class Engine {
  public:
    // Pause between the pieces of a split answer, and how long the line stays stalled with XOFF
    // around an 'R' (long enough for the loader's 20 ms tick to find its write still going out).
    static constexpr int SPLIT_PAUSE_MS = 15;
    static constexpr int STALL_HOLD_MS = 300;
    static constexpr uint8_t XON = 0x11, XOFF = 0x13;

    Engine(SimHost& host, const Options& options);

    void OnReceived(const uint8_t* bytes, std::size_t n, int64_t nowMs);

    // Output waiting for its time; pieces come out in order, never before their time.
    bool HasOutput() const { return !out_.empty(); }
    int64_t NextDue() const { return out_.empty() ? 0 : out_.front().due; }
    // The first piece when its time has come, else nothing; flow tells what it does to the
    // program's writes, and sentNote what to log once it is on the line ("" for nothing).
    Bytes TakeDue(int64_t nowMs, Flow* flow = nullptr, std::string* sentNote = nullptr);

    // One control line in, one answer line out ("OK ..." or "ERR ...").
    std::string Command(const std::string& line, int64_t nowMs);

    const Stats& GetStats() const { return stats_; }
    std::string StatsLine() const;
    const Options& GetOptions() const { return opt_; }
    AdapterModel& Model() { return model_; }

  private:
    struct Piece {
        int64_t due;
        Bytes bytes;
        Flow flow;
        std::string sentNote;
    };
    void Queue(Bytes bytes, int64_t due, Flow flow = Flow::None, std::string sentNote = {});
    // The model follows the options after every change.
    void SyncModel();
    // A command that sets a switch, and one that acts.
    std::string SetSwitch(const Switch& s, const std::string& arg);
    std::string Act(const std::string& cmd, const std::string& arg, int64_t nowMs);
    void SendAnswer(const Outcome& outcome, int64_t nowMs);
    void SendR(int64_t nowMs, bool stalled);
    // The line faults that the received count sets off: 'R' every rEvery bytes, the unplug.
    void CountReceived(std::size_t n, int64_t nowMs);
    // Line faults: crafted bytes, and noise with an optional good frame mixed in.
    bool SendHex(const std::string& hex, int64_t nowMs);
    bool Flood(const std::string& arg, int64_t nowMs, std::string& answer);
    void OnFrame(const RequestFrame& frame, int64_t nowMs);
    void OnLoaderBytes(const uint8_t* bytes, std::size_t n, int64_t nowMs);

    SimHost& host_;
    Options opt_;
    AdapterModel model_;
    RequestAssembler assembler_;
    std::deque<Piece> out_;
    Stats stats_;
    std::size_t rAfterNext_ = 0;
    long sinceR_ = 0;    // bytes received since the last 'R'
    long unplugAt_ = 0;  // the received total that unplugs; 0 = never
    bool unpluggedByCount_ = false;
    Bytes previous_;  // the last answer frame as it went out, for repeatPrevious
    std::string lastLine_;
};

// "1D" style request summary for the log: "read 003", "write 052[02+1]".
std::string DescribeRequest(const RequestFrame& frame);

}  // namespace sim
