#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "serial/SerialApi_posix.h"
#include "tray/Platform.h"

namespace tray {

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
    if (g_stopSignal == 0) g_stopSignal = signal;
}

bool IsCharacterDevice(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// A name with every symbolic link along it followed, as far as the links lead; a link to nothing
// gives the name it points at.
std::string FollowLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            std::string out = real;
            std::free(real);
            return out;
        }
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char target[4096];
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) return path;
        target[n] = '\0';
        const std::string to(target, static_cast<size_t>(n));
        const size_t slash = path.find_last_of('/');
        path = to[0] == '/' || slash == std::string::npos ? to : path.substr(0, slash + 1) + to;
    }
    return path;
}

// The device a port name leads to: "COMn" reaches what the programs' COMn reaches here
// ($KRT_COMn, else /dev/ttyS<n-1>); any other name is a device path. Empty for no port.
std::string DevicePath(const std::string& port) {
    if (port.size() > 3 && port.compare(0, 3, "COM") == 0 &&
        port.find_first_not_of("0123456789", 3) == std::string::npos) {
        const long n = std::strtol(port.c_str() + 3, nullptr, 10);
        if (n < 1 || n > 0xFFFF) return std::string();
        return serial::PosixSerialApi::DefaultPathOf(static_cast<unsigned>(n));
    }
    return port;
}

}  // namespace

std::unique_ptr<serial::SerialApi> SerialApiFor(const std::string& port, bool outputFlowControl,
                                                unsigned* number, std::string* error) {
    const std::string path = DevicePath(port);
    if (path.empty()) {
        *error = port.empty() ? "no port given" : port + " is no port";
        return nullptr;
    }
    *number = 1;
    auto api = std::make_unique<serial::PosixSerialApi>(
        [path](unsigned n) { return n == 1 ? path : std::string(); });
    api->SetOutputFlowControl(outputFlowControl);
    // A reply that came after an earlier run gave up waiting would be taken for an answer.
    api->SetDiscardInputOnOpen(true);
    return api;
}

std::string PortTrouble(const std::string& port) {
    const std::string path = DevicePath(port);
    if (path.empty()) return std::string();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "no such device";
    if (!S_ISCHR(st.st_mode)) return "not a serial device";
    if (access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        // Debian gives serial devices to the group dialout.
        return "permission denied; the group dialout may use serial ports: sudo adduser $USER dialout, "
               "then log in again";
    }
    return "busy, or not a serial line";
}

std::vector<std::string> ListPorts() {
    std::vector<std::string> ports;
    if (DIR* dev = opendir("/dev")) {
        while (dirent* entry = readdir(dev)) {
            const std::string name = entry->d_name;
            for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
                const std::string p(prefix);
                if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
                    name.find_first_not_of("0123456789", p.size()) == std::string::npos &&
                    IsCharacterDevice("/dev/" + name)) {
                    ports.push_back("/dev/" + name);
                }
            }
        }
        closedir(dev);
    }
    // Numeric order within each kind: ttyS2 before ttyS10.
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        const size_t da = a.find_first_of("0123456789"), db = b.find_first_of("0123456789");
        const std::string ka = a.substr(0, da), kb = b.substr(0, db);
        if (ka != kb) return ka < kb;
        return std::atol(a.c_str() + da) < std::atol(b.c_str() + db);
    });
    // The stable names of USB adapters follow the device they lead to, each on a line of its
    // own, so that either can be pasted as --port.
    std::multimap<std::string, std::string> byId;
    if (DIR* dir = opendir("/dev/serial/by-id")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            const std::string link = std::string("/dev/serial/by-id/") + entry->d_name;
            if (char* target = realpath(link.c_str(), nullptr)) {
                byId.emplace(target, link);
                std::free(target);
            }
        }
        closedir(dir);
    }
    std::vector<std::string> names;
    for (const std::string& port : ports) {
        names.push_back(port);
        const auto range = byId.equal_range(port);
        for (auto it = range.first; it != range.second; ++it) names.push_back(it->second);
    }
    return names;
}

void PrepareProcess(bool* stdoutOpen) {
    // A descriptor of 0..2 that we were started without would be the next one handed out: the
    // port would become our standard output, and the table would go down the line.
    *stdoutOpen = true;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == 1) *stdoutOpen = false;
        const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    // A reader that went away is seen as a failed write: data output fails with its exit code,
    // progress output is dropped, and a load is never cut short by it.
    signal(SIGPIPE, SIG_IGN);
}

void RestoreConsole() {}

std::vector<std::string> CommandLine(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

int StopSignal() {
    return g_stopSignal;
}

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(int milliseconds) {
    if (milliseconds <= 0) return;
    timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !Interrupted()) {
    }
}

FileKind KindOf(const std::string& path, int64_t* size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return FileKind::Missing;
    *size = static_cast<int64_t>(st.st_size);
    if (S_ISDIR(st.st_mode)) return FileKind::Directory;
    return S_ISREG(st.st_mode) ? FileKind::Regular : FileKind::Other;
}

TargetKind TargetOf(const std::string& path, std::string* resolved) {
    *resolved = FollowLinks(path);
    struct stat st;
    if (stat(resolved->c_str(), &st) != 0) return errno == ENOENT ? TargetKind::Absent : TargetKind::Other;
    if (S_ISREG(st.st_mode)) return TargetKind::Regular;
    if (S_ISDIR(st.st_mode)) return TargetKind::Directory;
    if (S_ISFIFO(st.st_mode)) return TargetKind::Fifo;
    if (S_ISCHR(st.st_mode)) {
        // A terminal may be a serial line: nothing but protocol bytes go to one.
        const int fd = open(resolved->c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const bool terminal = fd >= 0 && isatty(fd);
        if (fd >= 0) close(fd);
        return terminal || fd < 0 ? TargetKind::Terminal : TargetKind::Device;
    }
    return TargetKind::Other;
}

std::string PortDevice(const std::string& port) {
    return DevicePath(port);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (a.empty() || b.empty() || stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool StandardStreamIs(int stream, const std::string& path) {
    struct stat sf, sp;
    if (path.empty() || fstat(stream, &sf) != 0 || stat(path.c_str(), &sp) != 0) return false;
    return (sf.st_dev == sp.st_dev && sf.st_ino == sp.st_ino) ||
           (S_ISCHR(sf.st_mode) && S_ISCHR(sp.st_mode) && sf.st_rdev == sp.st_rdev);
}

void SilenceStandardError() {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, 2);
        close(null);
    }
}

std::FILE* OpenInPlace(const std::string& path) {
    // Without a reader a FIFO's open waits; Ctrl-C ends the wait (no SA_RESTART) with EINTR.
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) close(fd);
    return file;
}

std::FILE* CreateTempBeside(const std::string& target, std::string* tempPath, std::string* error) {
    std::string name = target + ".XXXXXX";
    const int fd = mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return nullptr;
    }
    // The file gets the permissions a plain create would give it, not mkstemp's 0600.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        *error = std::strerror(errno);
        close(fd);
        unlink(name.c_str());
        return nullptr;
    }
    *tempPath = name;
    return file;
}

bool MoveIntoPlace(const std::string& temp, const std::string& target, std::string* error) {
    if (rename(temp.c_str(), target.c_str()) == 0) return true;
    *error = std::strerror(errno);
    return false;
}

void RemoveFile(const std::string& path) {
    unlink(path.c_str());
}

std::FILE* OpenForReading(const std::string& path) {
    return std::fopen(path.c_str(), "rb");
}

std::FILE* OpenForWriting(const std::string& path) {
    return std::fopen(path.c_str(), "wb");
}

std::string CorePath(const std::string& path) {
    return path;
}

std::string LastErrorText() {
    return std::strerror(errno);
}

std::string DefaultStateDir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/krt42";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr && home[0] != '\0' ? home : ".") + "/.local/state/krt42";
}

}  // namespace tray
