// krt42sim itself over a real pseudo-terminal: the test side plays the program that opens the
// COM link, sets the line speed and sends requests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "simulator/SimFrames.h"

extern char** environ;

namespace {

using sim::Bytes;
using Clock = std::chrono::steady_clock;

class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        std::vector<std::string> all = {KRT42SIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KRT42SIM_PATH, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(in[0]);
        close(out[1]);
        toSim_ = in[1];
        fromSim_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            Wait(5000);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(toSim_);
        close(fromSim_);
    }

    // One line of its stdout, or "" when none comes in time.
    std::string ReadLine(int timeoutMs = 10000) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const std::size_t nl = buf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return line;
            }
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (left <= 0) return "";
            pollfd p{fromSim_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) continue;
            char c[256];
            const ssize_t n = read(fromSim_, c, sizeof c);
            if (n <= 0) return "";
            buf_.append(c, static_cast<std::size_t>(n));
        }
    }
    std::string Command(const std::string& line) {
        const std::string l = line + "\n";
        if (write(toSim_, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return "";
        return ReadLine();
    }
    // True once the process has ended within the time.
    bool Wait(int timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            usleep(10000);
        }
        return false;
    }
    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int toSim_ = -1, fromSim_ = -1;
    std::string buf_;
};

// The program's side of the line: opens the link and sets the speed as a serial driver would.
int OpenLine(const std::string& path, speed_t speed) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Field 7 of /proc/PID/stat: the device number of the process's controlling terminal.
long ControllingTty(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), {});
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    long ppid = 0, pgrp = 0, session = 0, tty = -1;
    rest >> state >> ppid >> pgrp >> session >> tty;
    return tty;
}

void SetSpeed(int fd, speed_t speed) {
    termios t{};
    tcgetattr(fd, &t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}

// Reads until want bytes came or the time is up.
Bytes ReadFor(int fd, std::size_t want, int timeoutMs) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want && Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        uint8_t b[512];
        const ssize_t n = read(fd, b, sizeof b);
        if (n > 0) got.insert(got.end(), b, b + n);
    }
    return got;
}

bool WriteAll(int fd, const Bytes& b) {
    return write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size());
}

std::string TempDir() {
    char tmpl[] = "/tmp/krt42sim-test-XXXXXX";
    const char* d = mkdtemp(tmpl);
    return d ? d : "";
}

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

const Bytes kProbe = sim::BuildFrame(0x1D, "\t0\t003\x0C");
const Bytes kAnswer = {0x10, 0x01, 0x10, 0x1F, 0x03, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30,
                       0x30, 0x33, 0x0C, 0x09, 0x32, 0x0C, 0x10, 0x03, 0x3E, 0x2F};

TEST(SimulatorOverPty, AnswersTheProbeAtItsSpeedOnlyAndSurvivesAReplug) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/com3", log = dir + "/sim.log";
    SimProcess sim({"--link", link, "--speed", "9600", "--log", log});
    ASSERT_TRUE(sim.Started());
    const std::string ready = sim.ReadLine();
    ASSERT_EQ(ready.compare(0, 6, "READY "), 0) << ready;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(ready.substr(6), target);

    // The simulator owns its pty as controlling terminal, so that no program that opens the
    // link (a wineserver) can take it over and be hung up by an unplug.
    struct stat st {};
    ASSERT_EQ(stat(link.c_str(), &st), 0);
    EXPECT_EQ(ControllingTty(sim.Pid()), static_cast<long>(st.st_rdev));

    int fd = OpenLine(link, B9600);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, kProbe));
    EXPECT_EQ(ReadFor(fd, kAnswer.size(), 5000), kAnswer);

    // At a foreign speed the adapter hears nothing it understands.
    SetSpeed(fd, B1200);
    ASSERT_TRUE(WriteAll(fd, kProbe));
    EXPECT_TRUE(ReadFor(fd, 1, 1000).empty());
    SetSpeed(fd, B9600);
    ASSERT_TRUE(WriteAll(fd, kProbe));
    EXPECT_EQ(ReadFor(fd, kAnswer.size(), 5000), kAnswer);
    const std::string stats = sim.Command("stats");
    EXPECT_NE(stats.find(" answered=2 "), std::string::npos) << stats;
    EXPECT_NE(stats.find(" ignored=1 "), std::string::npos) << stats;
    EXPECT_NE(Slurp(log).find("IGNORED speed=1200 want=9600 hex=10 01 10 1F 1D"), std::string::npos);

    // Unplug: the program's handle goes dead; replug: a new pty behind the same link.
    EXPECT_EQ(sim.Command("unplug"), "OK unplugged");
    uint8_t b;
    EXPECT_LT(write(fd, kProbe.data(), kProbe.size()), 0);
    EXPECT_LE(read(fd, &b, 1), 0);
    close(fd);
    const std::string replug = sim.Command("replug");
    ASSERT_EQ(replug.compare(0, 12, "OK replugged"), 0) << replug;
    ASSERT_EQ(stat(link.c_str(), &st), 0);
    EXPECT_EQ(ControllingTty(sim.Pid()), static_cast<long>(st.st_rdev));
    fd = OpenLine(link, B9600);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, kProbe));
    EXPECT_EQ(ReadFor(fd, kAnswer.size(), 5000), kAnswer);
    close(fd);

    EXPECT_EQ(sim.Command("quit"), "OK quit");
    EXPECT_TRUE(sim.Wait(5000));
    EXPECT_NE(access(link.c_str(), F_OK), 0);  // its link goes with it
    std::filesystem::remove_all(dir);
}

TEST(SimulatorOverPty, LoaderModeCapturesTheLoadAndAnswersR) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/com4", capture = dir + "/load.bin", log = dir + "/sim.log";
    SimProcess sim(
        {"--link", link, "--mode", "loader", "--capture", capture, "--r-after", "10", "--log", log});
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(sim.ReadLine().compare(0, 6, "READY "), 0);
    const int fd = OpenLine(link, B19200);
    ASSERT_GE(fd, 0);
    const char raw[] = "++:10000000\x01\x02\x03\x10\x00";
    const std::string load(raw, sizeof raw - 1);
    ASSERT_TRUE(WriteAll(fd, Bytes(load.begin(), load.end())));
    EXPECT_EQ(ReadFor(fd, 1, 5000), Bytes{'R'});
    EXPECT_EQ(sim.Command("R"), "OK R");
    EXPECT_EQ(ReadFor(fd, 1, 5000), Bytes{'R'});
    close(fd);
    EXPECT_EQ(sim.Command("quit"), "OK quit");
    EXPECT_TRUE(sim.Wait(5000));
    EXPECT_EQ(Slurp(capture), load);
    EXPECT_NE(Slurp(log).find("LINE speed=19200 want=9600 format=8N1"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(SimulatorOverPty, StallsTheProgramsWritesAroundAnRWithIxon) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/com5";
    SimProcess sim({"--link", link, "--mode", "loader", "--ixon"});
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(sim.ReadLine().compare(0, 6, "READY "), 0);
    // Like the loader's open: the speed is set, the flow control is kept as found.
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    SetSpeed(fd, B9600);
    const Bytes block(8, '+');
    ASSERT_TRUE(WriteAll(fd, block));
    EXPECT_EQ(sim.Command("R"), "OK R");
    // XOFF and XON are flow control, not data: only the 'R' arrives.
    EXPECT_EQ(ReadFor(fd, 1, 5000), Bytes{'R'});
    EXPECT_LT(write(fd, block.data(), block.size()), 0);
    EXPECT_EQ(errno, EAGAIN);
    bool released = false;
    for (const auto end = Clock::now() + std::chrono::seconds(5); !released && Clock::now() < end;) {
        released = write(fd, block.data(), block.size()) == 8;
        if (!released) usleep(10000);
    }
    EXPECT_TRUE(released);
    EXPECT_TRUE(ReadFor(fd, 1, 300).empty());
    close(fd);
    std::filesystem::remove_all(dir);
}

TEST(SimulatorOverPty, RestartsEveryNBytesThenHangsUpSoThatTheProgramsWritesFail) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/com6";
    SimProcess sim({"--link", link, "--mode", "loader", "--r-every", "4", "--unplug-after", "12"});
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(sim.ReadLine().compare(0, 6, "READY "), 0);
    const int fd = OpenLine(link, B9600);
    ASSERT_GE(fd, 0);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(WriteAll(fd, Bytes(4, '+')));
        EXPECT_EQ(ReadFor(fd, 1, 5000), Bytes{'R'}) << round;
    }
    ASSERT_TRUE(WriteAll(fd, Bytes(4, '+')));
    // The line is gone for good: a write fails with EIO and no replug follows.
    bool failed = false;
    int error = 0;
    for (const auto end = Clock::now() + std::chrono::seconds(5); !failed && Clock::now() < end;) {
        failed = write(fd, "+", 1) < 0 && errno != EAGAIN;
        error = errno;
        if (!failed) usleep(10000);
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(error, EIO);
    close(fd);
    EXPECT_EQ(sim.Command("quit"), "OK quit");
    EXPECT_TRUE(sim.Wait(5000));
    std::filesystem::remove_all(dir);
}

// True once the file holds text, within the time.
bool WaitForText(const std::string& path, const std::string& text, int timeoutMs) {
    for (const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs); Clock::now() < end;
         usleep(10000))
        if (Slurp(path).find(text) != std::string::npos) return true;
    return false;
}

TEST(SimulatorOverPty, ALateWriteReplyWaitsInThePortForTheNextProgram) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/com7", log = dir + "/sim.log";
    SimProcess sim({"--link", link, "--log", log, "--late-write-reply", "200"});
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(sim.ReadLine().compare(0, 6, "READY "), 0);
    // The program writes element 02 of 052 and has closed the port before the reply comes.
    int fd = OpenLine(link, B9600);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, sim::BuildFrame(0x14, "\t0\t052\t02\t1\x0C\t15\x0C")));
    ASSERT_TRUE(WaitForText(log, "RX speed=9600 fn=14", 5000));
    close(fd);
    ASSERT_TRUE(WaitForText(log, "LATE sent 200 ms after the request | write 052[02] accepted", 5000));
    // The next program to open the port finds the reply waiting in its input.
    fd = OpenLine(link, B9600);
    ASSERT_GE(fd, 0);
    const Bytes reply = sim::BuildFrame(0x7F, "\t0\t052\t02\t1\x0C\t\x0C");
    EXPECT_EQ(ReadFor(fd, reply.size(), 5000), reply);
    close(fd);
    EXPECT_EQ(sim.Command("quit"), "OK quit");
    EXPECT_TRUE(sim.Wait(5000));
    std::filesystem::remove_all(dir);
}

TEST(SimulatorOverPty, DrivesARealTtyAtItsOwnSpeed) {
    // The far end of a pty stands in for the wire of a real serial device.
    const int wire = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(wire, 0);
    char name[128];
    ASSERT_EQ(grantpt(wire), 0);
    ASSERT_EQ(unlockpt(wire), 0);
    ASSERT_EQ(ptsname_r(wire, name, sizeof name), 0);
    SimProcess sim({"--tty", name, "--speed", "19200"});
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(sim.ReadLine(), std::string("READY ") + name);
    ASSERT_TRUE(WriteAll(wire, kProbe));
    EXPECT_EQ(ReadFor(wire, kAnswer.size(), 5000), kAnswer);
    EXPECT_EQ(sim.Command("speed 1234"), "ERR speed: no such line speed: 1234");
    EXPECT_EQ(sim.Command("speed 57600"), "OK speed 57600");
    ASSERT_TRUE(WriteAll(wire, kProbe));
    EXPECT_EQ(ReadFor(wire, kAnswer.size(), 5000), kAnswer);
    EXPECT_EQ(sim.Command("quit"), "OK quit");
    EXPECT_TRUE(sim.Wait(5000));
    close(wire);
}

TEST(SimulatorOverPty, RefusesToReplaceAFileThatIsNotALink) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string path = dir + "/notalink";
    { std::ofstream(path) << "keep"; }
    SimProcess sim({"--link", path});
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(sim.ReadLine(), "");
    EXPECT_TRUE(sim.Wait(5000));
    EXPECT_EQ(Slurp(path), "keep");
    std::filesystem::remove_all(dir);
}

}  // namespace
