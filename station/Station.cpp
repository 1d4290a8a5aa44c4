// krt42 serve: the station's start and end. It checks its tray and its address, opens the job
// history (marking the jobs a killed station left running as interrupted), listens, and on SIGINT
// or SIGTERM stops every job as a user's stop would, closes every port and ends with 0.
#include "station/Station.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include "station/Access.h"
#include "station/Api.h"
#include "station/Events.h"
#include "station/Log.h"
#include "station/Tray.h"
#include "tray/Exit.h"
#include "tray/History.h"
#include "tray/Platform.h"
#include "tray/Server.h"

namespace station {

namespace {

// The station registers itself with the command line when it is linked into the program.
const bool kRegistered = tray::RegisterServer(&Serve);

bool SplitListen(const std::string& listen, std::string* host, int* port) {
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    *host = listen.substr(0, colon);
    if (host->size() > 2 && host->front() == '[' && host->back() == ']')
        *host = host->substr(1, host->size() - 2);
    const std::string digits = listen.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *port = std::atoi(digits.c_str());
    return *port > 0 && *port < 65536;
}

bool IsLoopback(const std::string& host) {
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return host == "localhost";
}

bool MakeFolder(const std::string& path) {
    std::string at;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i != 0)) {
            at = path.substr(0, i);
            if (::mkdir(at.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The token of a station that listens beyond loopback: from --token-file, or made once into
// STATE/token, readable by its owner alone. `*fresh`: made just now.
bool TokenOf(const tray::ServeSettings& s, std::string* token, bool* fresh, std::string* error) {
    *fresh = false;
    const std::string path = s.tokenFile.empty() ? s.stateDir + "/token" : s.tokenFile;
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[256];
        const size_t n = std::fread(buffer, 1, sizeof buffer, file);
        std::fclose(file);
        text.assign(buffer, n);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        if (text.size() < 16 || text.find_first_of(" \t\r\n;,") != std::string::npos) {
            *error = path + " holds no usable token (16 characters or more, no blanks)";
            return false;
        }
        *token = text;
        return true;
    }
    if (!s.tokenFile.empty()) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    text = NewToken();
    const int fd = text.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 ||
        ::write(fd, (text + "\n").data(), text.size() + 1) != static_cast<ssize_t>(text.size() + 1) ||
        ::close(fd) != 0) {
        *error = "cannot make the token " + path;
        return false;
    }
    *token = text;
    *fresh = true;
    return true;
}

}  // namespace

int Serve(const tray::ServeSettings& s) {
    (void)kRegistered;
    std::string host, error;
    int port = 0;
    if (!SplitListen(s.listen, &host, &port)) {
        Log("bad --listen " + s.listen + ": ADDRESS:PORT, e.g. 127.0.0.1:8042");
        return tray::EXIT_USAGE;
    }
    // The tray is named in addresses by the last part of each port's path: two alike are one too many.
    std::set<std::string> names;
    for (const std::string& p : s.ports) {
        if (!names.insert(ShortName(p)).second) {
            Log("two ports of the tray are both called " + ShortName(p) + " in the station's addresses");
            return tray::EXIT_USAGE;
        }
    }
    if (!MakeFolder(s.stateDir)) {
        Log("cannot use the state folder " + s.stateDir + ": " + std::strerror(errno));
        return tray::EXIT_FAILED;
    }
    const bool loopback = IsLoopback(host);
    std::string token;
    bool freshToken = false;
    if (!loopback && !TokenOf(s, &token, &freshToken, &error)) {
        Log(error);
        return tray::EXIT_FAILED;
    }

    const std::string historyPath = s.stateDir + "/history.sqlite";
    tray::History writer, reader;
    if (!writer.Open(historyPath, &error) || !reader.Open(historyPath, &error)) {
        Log("cannot keep the job history in " + historyPath + ": " + error);
        return tray::EXIT_FAILED;
    }
    const int interrupted = writer.MarkInterrupted();
    if (interrupted != 0) Log(std::to_string(interrupted) + " jobs of an earlier run were interrupted");

    Events events;
    Access access(host, port, loopback, token);
    auto jobs = std::make_unique<Tray>(s.ports, events, writer);
    Context context{*jobs, events, reader, access, s.stateDir};

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(MAX_STREAMS + 16); };
    server.set_keep_alive_max_count(100);
    server.set_keep_alive_timeout(5);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);
    server.set_payload_max_length(MAX_CONFIGURATION_BYTES + 4096);
    // The library's own options would share the address with another station (SO_REUSEPORT), which
    // would then answer every other request: the address is ours alone.
    server.set_socket_options([](int sock) {
        int on = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    InstallRoutes(server, context);
    if (!server.bind_to_port(host, port)) {
        Log("cannot listen on " + s.listen + ": " + std::strerror(errno));
        return tray::EXIT_FAILED;
    }
    std::thread listener([&server] { server.listen_after_bind(); });

    // An address for every interface is no address to open: the host's own name stands for it.
    std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (host == "0.0.0.0" || host == "::") {
        char name[256] = {};
        if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') shown = name;
    }
    const std::string tray = std::to_string(s.ports.size()) + (s.ports.size() == 1 ? " port" : " ports");
    const std::string url = "http://" + shown + ":" + std::to_string(port) + "/";
    if (token.empty()) {
        Log("the tray of " + tray + " at " + url);
    } else if (freshToken) {
        Log("the tray of " + tray + " at " + url + "?token=" + token);
    } else {
        Log("the tray of " + tray + " at " + url + " (its token is in " +
            (s.tokenFile.empty() ? s.stateDir + "/token" : s.tokenFile) + ")");
    }

    while (!tray::Interrupted()) tray::SleepMs(100);

    // Stopped as a user's stop stops them: every job ends, says so in the history, closes its port.
    Log("stopping");
    jobs->StopAll();
    events.Close();
    server.stop();
    listener.join();
    jobs.reset();
    Log("stopped");
    return tray::EXIT_OK;
}

}  // namespace station
