#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "simulator/SimDevice.h"

namespace sim {

namespace {

struct SpeedCode {
    int bps;
    speed_t code;
};

const SpeedCode kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// How long a frame at the wrong speed waits for the program's speed change to show on the line.
constexpr int kRecheckMs = 100;
constexpr int kRecheckStepMs = 10;

}  // namespace

int SpeedOfCode(unsigned code) {
    for (const SpeedCode& s : kSpeeds)
        if (s.code == code) return s.bps;
    return 0;
}

unsigned CodeOfSpeed(int bps) {
    for (const SpeedCode& s : kSpeeds)
        if (s.bps == bps) return s.code;
    return 0;
}

SimDevice::~SimDevice() {
    Close();
}

bool SimDevice::MakePty(std::string& error) {
    const int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) {
        error = Errno("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        error = Errno("pty slave");
        ::close(m);
        return false;
    }
    const int s = ::open(name, O_RDWR | O_NOCTTY);
    if (s < 0) {
        error = Errno(name);
        ::close(m);
        return false;
    }
    // Whoever opens a slave that no session owns may make it their controlling terminal; a
    // wineserver that did so would be killed by a 0x03 byte or hung up by an unplug. So this
    // process takes it first.
    if (ioctl(s, TIOCSCTTY, 0) != 0) {
        error = Errno("TIOCSCTTY");
        ::close(s);
        ::close(m);
        return false;
    }
    termios t{};
    tcgetattr(s, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (ixon_) t.c_iflag |= IXON;
    if (tcsetattr(s, TCSANOW, &t) != 0) {
        error = Errno("tcsetattr");
        ::close(s);
        ::close(m);
        return false;
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    fd_ = m;
    slave_ = s;
    path_ = name;
    return true;
}

bool SimDevice::PointLink(std::string& error) {
    struct stat st {};
    if (lstat(link_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link_ + " exists and is not a symlink";
        return false;
    }
    // Programs may open the link at any moment: it always names a whole pty, never nothing.
    const std::string tmp = link_ + ".tmp." + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (symlink(path_.c_str(), tmp.c_str()) != 0) {
        error = Errno("symlink");
        return false;
    }
    if (rename(tmp.c_str(), link_.c_str()) != 0) {
        error = Errno("rename");
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool SimDevice::OpenPty(const std::string& linkPath, bool ixon, std::string& error) {
    isPty_ = true;
    ixon_ = ixon;
    link_ = linkPath;
    if (!MakePty(error)) return false;
    if (!PointLink(error)) {
        Unplug();
        return false;
    }
    return true;
}

bool SimDevice::ConfigureTty(int speed, std::string& error) {
    const speed_t code = CodeOfSpeed(speed);
    if (code == 0) {
        error = "no such line speed: " + std::to_string(speed);
        return false;
    }
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        error = Errno("tcgetattr");
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | CRTSCTS);
    if (ixon_) t.c_iflag |= IXON;
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        error = Errno("tcsetattr");
        return false;
    }
    ttySpeed_ = speed;
    return true;
}

bool SimDevice::OpenTty(const std::string& device, int speed, std::string& error) {
    isPty_ = false;
    path_ = device;
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        error = Errno(device.c_str());
        return false;
    }
    if (!ConfigureTty(speed, error)) {
        Unplug();
        return false;
    }
    return true;
}

void SimDevice::HoldProgramOutput(bool hold) {
    if (isPty_ && slave_ >= 0) tcflow(slave_, hold ? TCOOFF : TCOON);
}

LineInfo SimDevice::Line(int want) {
    LineInfo li;
    const int fd = SettingsFd();
    for (int waited = 0; fd >= 0; waited += kRecheckStepMs) {
        termios t{};
        if (tcgetattr(fd, &t) != 0) break;
        li.known = true;
        li.speed = SpeedOfCode(cfgetospeed(&t));
        li.cs8 = (t.c_cflag & CSIZE) == CS8;
        li.parenb = (t.c_cflag & PARENB) != 0;
        li.cstopb = (t.c_cflag & CSTOPB) != 0;
        if (want <= 0 || li.speed == want || waited >= kRecheckMs) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kRecheckStepMs));
    }
    return li;
}

bool SimDevice::SetSpeed(int bps, std::string& error) {
    if (CodeOfSpeed(bps) == 0) {
        error = "no such line speed: " + std::to_string(bps);
        return false;
    }
    // On a pty the program sets the speed; a real device is set to the simulator's own.
    if (isPty_ || fd_ < 0) return true;
    return ConfigureTty(bps, error);
}

void SimDevice::Unplug() {
    if (fd_ >= 0) ::close(fd_);
    if (slave_ >= 0) ::close(slave_);
    fd_ = slave_ = -1;
}

bool SimDevice::Replug(std::string& detail) {
    std::string& error = detail;
    Unplug();
    if (isPty_) {
        if (!MakePty(error)) return false;
        if (!PointLink(error)) {
            Unplug();
            return false;
        }
    } else {
        fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            error = Errno(path_.c_str());
            return false;
        }
        if (!ConfigureTty(ttySpeed_, error)) {
            Unplug();
            return false;
        }
    }
    error = path_;
    return true;
}

void SimDevice::Close() {
    if (isPty_ && !link_.empty()) {
        char target[256];
        const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0) {
            target[n] = 0;
            if (path_ == target) ::unlink(link_.c_str());
        }
        link_.clear();
    }
    Unplug();
}

}  // namespace sim
