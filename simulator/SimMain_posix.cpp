// krt42sim: a stand-in for the KRT42 adapter on a pseudo-terminal or a real serial line.
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "adapter/LineTrace.h"
#include "simulator/SimDevice.h"
#include "simulator/SimEngine.h"

namespace {

volatile sig_atomic_t g_stop = 0;
volatile pid_t g_child = 0;

void OnStopSignal(int) {
    g_stop = 1;
}
void ForwardSignal(int sig) {
    if (g_child > 0) kill(g_child, sig);
}

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Usage(std::FILE* to) {
    std::fputs(sim::UsageText().c_str(), to);
}

class MainHost : public sim::SimHost {
  public:
    sim::SimDevice device;
    FILE* log = nullptr;
    FILE* capture = nullptr;
    bool quit = false;

    void Log(const std::string& line) override {
        if (log) std::fprintf(log, "%s\n", line.c_str());
    }
    sim::LineInfo Line(int want) override {
        const sim::LineInfo li = device.Line(want);
        if (li.known) {
            const std::string settings = std::to_string(li.speed) + " " + (li.cs8 ? "8" : "7") +
                                         (li.parenb ? "E" : "N") + (li.cstopb ? "2" : "1");
            if (settings != traceSettings) TraceEvent("speed " + settings);
            traceSettings = settings;
        }
        return li;
    }
    void Capture(const uint8_t* bytes, std::size_t n) override {
        if (!capture) return;
        std::fwrite(bytes, 1, n, capture);
        std::fflush(capture);
    }
    bool Unplug(std::string& detail) override {
        if (device.Fd() < 0) {
            detail = "already unplugged";
            return false;
        }
        device.Unplug();
        pendingOut.clear();
        TraceEvent("close");
        return true;
    }
    bool Replug(std::string& detail) override {
        pendingOut.clear();
        const bool replugged = device.Replug(detail);
        TraceEvent(replugged ? "open" : "open failed");
        return replugged;
    }
    bool SetSpeed(int bps, std::string& detail) override { return device.SetSpeed(bps, detail); }
    void Quit() override { quit = true; }

    std::vector<uint8_t> pendingOut;  // taken from the engine, not yet accepted by the line
    std::string pendingNote;          // logged once pendingOut is all on the line

    // The line trace, in krt42's format: '>' what the adapter sent, '<' what it received.
    std::unique_ptr<adapter::LineTraceWriter> traceWriter;
    std::unique_ptr<adapter::PortTrace> trace;
    std::string traceSettings;  // the line settings last traced
    void TraceBytes(char direction, const uint8_t* bytes, std::size_t n) {
        if (trace) traceWriter->Write(trace->Bytes(traceWriter->ElapsedMicros(), direction, bytes, n));
    }
    void TraceEvent(const std::string& text) {
        if (trace) traceWriter->Write(trace->Event(traceWriter->ElapsedMicros(), text));
    }
};

// The pty must be this process's controlling terminal, which needs a session of its own; a
// process group leader cannot start one, so it stays behind as a waiting parent.
bool OwnSession() {
    if (setsid() >= 0) return true;
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) return setsid() >= 0;
    g_child = child;
    struct sigaction sa {};
    sa.sa_handler = ForwardSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGHUP, SIG_IGN);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options opt;
    bool help = false;
    std::string error;
    if (!sim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), opt, help, error)) {
        std::fprintf(stderr, "krt42sim: %s\n", error.c_str());
        Usage(stderr);
        return 2;
    }
    if (help) {
        Usage(stdout);
        return 0;
    }
    if (opt.link.empty() == opt.tty.empty()) {
        Usage(stderr);
        return 2;
    }

    if (!opt.link.empty() && !OwnSession()) {
        std::fprintf(stderr, "krt42sim: cannot start a session: %s\n", std::strerror(errno));
        return 1;
    }
    // Closing the pty master (unplug) hangs up our own controlling terminal.
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    // The stop signals get through only while the loop waits, so none is lost between the check
    // of g_stop and the wait.
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);

    MainHost host;
    if (!opt.log.empty()) {
        host.log = std::fopen(opt.log.c_str(), "a");
        if (!host.log) {
            std::fprintf(stderr, "krt42sim: %s: %s\n", opt.log.c_str(), std::strerror(errno));
            return 1;
        }
        setvbuf(host.log, nullptr, _IOLBF, 0);
    }
    std::FILE* traceFile = nullptr;
    if (!opt.trace.empty()) {
        traceFile = opt.trace == "-" ? stderr : std::fopen(opt.trace.c_str(), "w");
        if (!traceFile) {
            std::fprintf(stderr, "krt42sim: %s: %s\n", opt.trace.c_str(), std::strerror(errno));
            return 1;
        }
        host.traceWriter = std::make_unique<adapter::LineTraceWriter>(traceFile);
    }
    if (!opt.capture.empty()) {
        host.capture = std::fopen(opt.capture.c_str(), "wb");
        if (!host.capture) {
            std::fprintf(stderr, "krt42sim: %s: %s\n", opt.capture.c_str(), std::strerror(errno));
            return 1;
        }
    }
    const bool opened = opt.link.empty() ? host.device.OpenTty(opt.tty, opt.speed, error)
                                         : host.device.OpenPty(opt.link, opt.ixon, error);
    if (!opened) {
        std::fprintf(stderr, "krt42sim: %s\n", error.c_str());
        return 1;
    }
    if (host.traceWriter) {
        host.trace = std::make_unique<adapter::PortTrace>(opt.link.empty() ? opt.tty : opt.link,
                                                          opt.mode == sim::Mode::Configurator);
        host.TraceEvent("open");
    }
    sim::Engine engine(host, opt);
    host.Log("START path=" + host.device.Path() + " speed=" + std::to_string(opt.speed) +
             " mode=" + (opt.mode == sim::Mode::Loader ? "loader" : "configurator"));
    std::printf("READY %s\n", host.device.Path().c_str());
    std::fflush(stdout);

    bool stdinOpen = true;
    std::string stdinBuf;
    uint8_t buf[4096];
    while (!host.quit && !g_stop) {
        int64_t now = NowMs();
        // Move what is due from the engine to the line, one piece at a time so that the pauses
        // of a split answer stand between the pieces.
        const int fd = host.device.Fd();
        while (host.pendingOut.empty() && engine.HasOutput() && engine.NextDue() <= now) {
            sim::Flow flow = sim::Flow::None;
            std::string sentNote;
            sim::Bytes piece = engine.TakeDue(now, &flow, &sentNote);
            // The stall around an 'R' also holds a program that turned software flow control off.
            if (flow != sim::Flow::None) host.device.HoldProgramOutput(flow == sim::Flow::Hold);
            if (fd >= 0) {
                host.pendingOut = std::move(piece);
                host.pendingNote = std::move(sentNote);
            } else if (!sentNote.empty()) {
                host.Log(sentNote + " (dropped: unplugged)");
            }
        }
        if (fd >= 0 && !host.pendingOut.empty()) {
            // The pty's slave stays open here, so what is written lands in its input even while no
            // program has the port open, and waits there for the next one to open it.
            const ssize_t w = ::write(fd, host.pendingOut.data(), host.pendingOut.size());
            if (w > 0) {
                host.TraceBytes(adapter::TRACE_SENT, host.pendingOut.data(), static_cast<std::size_t>(w));
                host.pendingOut.erase(host.pendingOut.begin(), host.pendingOut.begin() + w);
                if (host.pendingOut.empty() && !host.pendingNote.empty()) host.Log(host.pendingNote);
            }
        }

        pollfd fds[2];
        int nfds = 0;
        int stdinIdx = -1, lineIdx = -1;
        if (stdinOpen) {
            fds[nfds] = {0, POLLIN, 0};
            stdinIdx = nfds++;
        }
        if (fd >= 0) {
            // A stalled adapter leaves the program's bytes in the line.
            const short in = engine.GetOptions().stalled ? 0 : POLLIN;
            fds[nfds] = {fd, static_cast<short>(in | (host.pendingOut.empty() ? 0 : POLLOUT)), 0};
            lineIdx = nfds++;
        }
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (host.pendingOut.empty() && engine.HasOutput()) {
            const int64_t wait = engine.NextDue() - now;
            timeout.tv_sec = wait < 0 ? 0 : static_cast<time_t>(wait / 1000);
            timeout.tv_nsec = wait < 0 ? 0 : static_cast<long>(wait % 1000) * 1000000;
            timeoutPtr = &timeout;
        }
        const int r = ppoll(fds, static_cast<nfds_t>(nfds), timeoutPtr, &waitMask);
        if (r < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "krt42sim: poll: %s\n", std::strerror(errno));
            break;
        }
        now = NowMs();
        if (lineIdx >= 0 && !engine.GetOptions().stalled &&
            (fds[lineIdx].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                // The settings the bytes came in with go into the trace ahead of them.
                if (host.trace) host.Line(0);
                host.TraceBytes(adapter::TRACE_RECEIVED, buf, static_cast<std::size_t>(n));
                engine.OnReceived(buf, static_cast<std::size_t>(n), now);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // A real device that went away: stop polling it until a replug.
                host.Log(std::string("LINE lost: ") + (n == 0 ? "end of file" : std::strerror(errno)));
                host.device.Unplug();
                host.pendingOut.clear();
                host.TraceEvent("close");
            }
        }
        if (stdinIdx >= 0 && (fds[stdinIdx].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) {
                // Without a controller the simulator goes on until it is told to stop by a signal.
                if (n == 0 || (errno != EAGAIN && errno != EINTR)) stdinOpen = false;
            } else {
                stdinBuf.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
                std::size_t nl;
                while ((nl = stdinBuf.find('\n')) != std::string::npos && !host.quit) {
                    const std::string line = stdinBuf.substr(0, nl);
                    stdinBuf.erase(0, nl + 1);
                    if (line.find_first_not_of(" \r\t") == std::string::npos) continue;
                    std::printf("%s\n", engine.Command(line, now).c_str());
                    std::fflush(stdout);
                }
            }
        }
    }
    host.Log("STOP " + engine.StatsLine());
    if (host.device.Fd() >= 0) host.TraceEvent("close");
    host.device.Close();
    if (host.capture) std::fclose(host.capture);
    if (traceFile && traceFile != stderr) std::fclose(traceFile);
    if (host.log) std::fclose(host.log);
    return 0;
}
