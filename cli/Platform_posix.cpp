#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>

#include "cli/Platform.h"
#include "serial/SerialApi_posix.h"

namespace cli {

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

bool IsCharacterDevice(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace

std::unique_ptr<serial::SerialApi> SerialApiFor(const std::string& port, unsigned* number,
                                                std::string* error) {
    // "COMn" reaches what the programs' COMn reaches here ($KRT_COMn, else /dev/ttyS<n-1>); any
    // other name is a device path.
    std::string path = port;
    if (port.size() > 3 && port.compare(0, 3, "COM") == 0 &&
        port.find_first_not_of("0123456789", 3) == std::string::npos) {
        const long n = std::strtol(port.c_str() + 3, nullptr, 10);
        if (n < 1 || n > 0xFFFF) {
            *error = port + " is no port";
            return nullptr;
        }
        path = serial::PosixSerialApi::DefaultPathOf(static_cast<unsigned>(n));
    }
    if (path.empty()) {
        *error = "no port given";
        return nullptr;
    }
    *number = 1;
    return std::make_unique<serial::PosixSerialApi>(
        [path](unsigned n) { return n == 1 ? path : std::string(); });
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
    // The stable names of USB adapters, beside the device they lead to.
    std::map<std::string, std::string> byId;
    if (DIR* dir = opendir("/dev/serial/by-id")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            const std::string link = std::string("/dev/serial/by-id/") + entry->d_name;
            if (char* target = realpath(link.c_str(), nullptr)) {
                byId[target] = link;
                std::free(target);
            }
        }
        closedir(dir);
    }
    for (std::string& port : ports) {
        auto found = byId.find(port);
        if (found != byId.end()) port += "  " + found->second;
    }
    return ports;
}

void PrepareConsole() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
    return g_interrupted != 0;
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

}  // namespace cli
