#include "station/Api.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <utility>

#include "loader/ProgramImage.h"
#include "portselect/Selection.h"
#include "station/Assets.h"
#include "station/Log.h"
#include "tray/Configuration.h"
#include "tray/Digest.h"
#include "tray/Text.h"
#include "tray/Values.h"

namespace station {

using nlohmann::json;

namespace {

constexpr int kKeepAliveCommentMs = 15000;
constexpr int kMaxWaitSeconds = 120;
constexpr int kHistoryLimit = 500;

std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void Reply(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(Dump(body) + "\n", "application/json; charset=utf-8");
}

void Error(httplib::Response& res, int status, const std::string& message) {
    Reply(res, status, {{"error", message}});
}

// A request's values, checked as krt42 checks its options. Each gives "" or the reason it is bad.
std::string SpeedOf(const httplib::Request& req, int* speed) {
    *speed = 0;
    if (!req.has_param("speed")) return std::string();
    const std::string text = req.get_param_value("speed");
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    for (int32_t s : portselect::SpeedTable) {
        if (!text.empty() && *end == '\0' && value == s) {
            *speed = static_cast<int>(value);
            return std::string();
        }
    }
    return "bad speed " + text + " (300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)";
}

bool IsOn(const httplib::Request& req, const char* name) {
    if (!req.has_param(name)) return false;
    const std::string value = req.get_param_value(name);
    return value == "1" || value == "true" || value == "yes" || value.empty();
}

// ?wait=SECONDS: how long a job's request waits for its end (0: it answers at once).
int WaitSeconds(const httplib::Request& req) {
    if (!req.has_param("wait")) return 0;
    const int seconds = std::atoi(req.get_param_value("wait").c_str());
    return seconds <= 0 ? kMaxWaitSeconds : std::min(seconds, kMaxWaitSeconds);
}

class Handlers {
  public:
    explicit Handlers(Context& c) : c_(c) {}

    // The port of a request's path, which must be one of the tray's: never a path opened.
    bool PortOf(const httplib::Request& req, httplib::Response& res, std::string* name) {
        *name = req.matches.size() > 1 ? req.matches[1].str() : std::string();
        if (c_.tray.Has(*name)) return true;
        Error(res, 404, "no port " + tray::Printable(*name) + " in the tray");
        return false;
    }

    // Starts the job and answers: 202 with the job, or its result when ?wait= saw its end; 409
    // with the running job when a port is busy.
    void StartJob(const httplib::Request& req, httplib::Response& res, const std::vector<std::string>& ports,
                  const JobOrder& order) {
        std::vector<int64_t> jobs;
        json busy;
        if (!c_.tray.Start(ports, order, &jobs, &busy)) {
            const std::string port = busy.value("port", std::string());
            Reply(res, 409,
                  {{"error", busy.value("stopping", false)
                                 ? "the station is stopping"
                                 : port + " is busy with " + busy.value("kind", std::string("a job")) +
                                       " (job " + std::to_string(busy.value("id", int64_t{0})) + ")"},
                   {"job", busy}});
            return;
        }
        const int wait = WaitSeconds(req);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait);
        json list = json::array();
        bool done = true;
        for (int64_t id : jobs) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (wait > 0)
                done = c_.tray.WaitJob(id, static_cast<int>(std::max<int64_t>(left.count(), 0))) && done;
            json job;
            c_.tray.Job(id, &job);
            list.push_back(job);
        }
        if (wait == 0) done = false;
        if (order.kind == "load") {
            Reply(res, done ? 200 : 202, {{"jobs", list}});
        } else {
            Reply(res, done ? 200 : 202, {{"job", list.front()}});
        }
    }

    void Simple(const httplib::Request& req, httplib::Response& res, const char* kind) {
        std::string port;
        if (!PortOf(req, res, &port)) return;
        JobOrder order;
        order.kind = kind;
        const std::string bad = SpeedOf(req, &order.speed);
        if (!bad.empty()) return Error(res, 400, bad);
        StartJob(req, res, {port}, order);
    }

    void Write(const httplib::Request& req, httplib::Response& res) {
        std::string port;
        if (!PortOf(req, res, &port)) return;
        JobOrder order;
        order.kind = "write";
        std::string bad = SpeedOf(req, &order.speed);
        if (!bad.empty()) return Error(res, 400, bad);
        if (req.body.size() > MAX_SMALL_BODY_BYTES)
            return Error(res, 413, "the write is larger than it can be");
        const json body = json::parse(req.body, nullptr, false);
        if (!body.is_object() || !body.contains("row") || !body.contains("value")) {
            return Error(res, 400, "a write is {\"row\": ..., \"value\": ...}");
        }
        const json& row = body["row"];
        const std::string rowName = row.is_string()            ? row.get<std::string>()
                                    : row.is_number_unsigned() ? std::to_string(row.get<unsigned>())
                                                               : std::string();
        order.row = tray::RowOfName(rowName);
        if (order.row < 0)
            return Error(res, 400, "unknown row " + tray::Printable(rowName) + " (0..103 or PARAM[:INDEX])");
        if (!body["value"].is_string()) return Error(res, 400, "the value must be a string");
        order.value = body["value"].get<std::string>();
        if (!tray::UsableValue(order.value, &order.ansi, &bad, order.row)) return Error(res, 400, bad);
        StartJob(req, res, {port}, order);
    }

    void DiffOrApply(const httplib::Request& req, httplib::Response& res, const char* kind) {
        std::string port;
        if (!PortOf(req, res, &port)) return;
        JobOrder order;
        order.kind = kind;
        std::string bad = SpeedOf(req, &order.speed);
        if (!bad.empty()) return Error(res, 400, bad);
        if (req.body.size() > MAX_CONFIGURATION_BYTES)
            return Error(res, 413, "a configuration is at most 1 MiB");
        if (!tray::ParseConfiguration(req.body, &order.file, &bad)) {
            return Error(res, 400, "the configuration: " + tray::Printable(bad));
        }
        if (req.has_param("rows")) {
            const std::string rows = req.get_param_value("rows");
            // An empty list must not turn into every row.
            if (rows.find_first_not_of(" \t") == std::string::npos)
                return Error(res, 400, "rows needs a list of rows");
            if (!tray::ParseRowList(rows, &order.rows, &bad)) return Error(res, 400, bad);
            order.rowsGiven = true;
        }
        order.dryRun = IsOn(req, "dry_run");
        if (order.kind == "apply" &&
            !tray::UsableRows(order.file, order.rowsGiven ? &order.rows : nullptr, &bad)) {
            return Error(res, 400, "the configuration: " + tray::Printable(bad));
        }
        StartJob(req, res, {port}, order);
    }

    void Load(const httplib::Request& req, httplib::Response& res) {
        JobOrder order;
        order.kind = "load";
        std::string bad = SpeedOf(req, &order.speed);
        if (!bad.empty()) return Error(res, 400, bad);
        std::vector<std::string> ports;
        std::set<std::string> seen;
        const std::string list = req.has_param("ports") ? req.get_param_value("ports") : std::string();
        for (size_t at = 0; at <= list.size();) {
            size_t comma = list.find(',', at);
            if (comma == std::string::npos) comma = list.size();
            const std::string name = list.substr(at, comma - at);
            at = comma + 1;
            if (name.empty()) continue;
            if (!c_.tray.Has(name))
                return Error(res, 404, "no port " + tray::Printable(name) + " in the tray");
            if (!seen.insert(name).second) return Error(res, 400, name + " is given twice");
            ports.push_back(name);
        }
        if (ports.empty()) return Error(res, 400, "ports= names no port");
        if (req.has_param("max_restarts")) {
            const std::string n = req.get_param_value("max_restarts");
            if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos) {
                return Error(res, 400, "bad count " + n + " for max_restarts");
            }
            order.maxRestarts = std::atoi(n.c_str());
        }
        // The file's own name, for the history: the last part of whatever path the client gave.
        const std::string given =
            req.has_param("name") ? req.get_param_value("name") : std::string("program");
        const std::string name = tray::Printable(tray::PortFileName(given));
        // The adapter takes the whole program or nothing, as krt42 load says.
        const std::string problem = tray::ProgramProblem(name, static_cast<int64_t>(req.body.size()));
        if (!problem.empty()) return Error(res, req.body.size() > 0 ? 413 : 400, problem);
        auto upload = std::make_shared<Upload>();
        upload->name = name;
        upload->size = static_cast<int64_t>(req.body.size());
        upload->sha256 = tray::Sha256Hex(req.body);
        if (!SaveUpload(req.body, &upload->path, &bad)) return Error(res, 500, bad);
        order.program = upload;
        StartJob(req, res, ports, order);
    }

    bool SaveUpload(const std::string& bytes, std::string* path, std::string* error) {
        const std::string dir = c_.stateDir + "/uploads";
        ::mkdir(dir.c_str(), 0700);
        std::string name = dir + "/program-XXXXXX";
        const int fd = ::mkostemp(&name[0], O_CLOEXEC);
        if (fd < 0) {
            *error = "cannot keep the program in " + dir;
            return false;
        }
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        const bool closed = ::close(fd) == 0;
        if (done != bytes.size() || !closed) {
            ::unlink(name.c_str());
            *error = "cannot keep the program in " + dir;
            return false;
        }
        *path = name;
        return true;
    }

    void Configuration(const httplib::Request& req, httplib::Response& res) {
        std::string port;
        if (!PortOf(req, res, &port)) return;
        tray::Configuration config;
        if (!c_.tray.LastConfiguration(port, &config)) return Error(res, 404, "no read of " + port + " yet");
        res.set_header("Cache-Control", "no-store");
        if (IsOn(req, "download"))
            res.set_header("Content-Disposition", "attachment; filename=\"" + port + ".json\"");
        res.set_content(tray::ConfigJson(config), "application/json; charset=utf-8");
    }

    void Job(const httplib::Request& req, httplib::Response& res) {
        const int64_t id = std::atoll(req.matches[1].str().c_str());
        const int wait = WaitSeconds(req);
        if (wait > 0) c_.tray.WaitJob(id, wait * 1000);
        json job;
        if (!c_.tray.Job(id, &job)) return Error(res, 404, "no job " + req.matches[1].str());
        Reply(res, 200, job);
    }

    void History(const httplib::Request& req, httplib::Response& res) {
        tray::HistoryFilter filter;
        filter.port = req.has_param("port") ? req.get_param_value("port") : std::string();
        filter.kind = req.has_param("kind") ? req.get_param_value("kind") : std::string();
        filter.since = req.has_param("since") ? req.get_param_value("since") : std::string();
        filter.limit =
            req.has_param("limit") ? std::atoi(req.get_param_value("limit").c_str()) : kHistoryLimit;
        if (filter.limit <= 0 || filter.limit > 100000) filter.limit = kHistoryLimit;
        if (!filter.since.empty() && !tray::HistoryTimeValid(filter.since)) {
            return Error(res, 400, "bad time " + tray::Printable(filter.since) + " for since");
        }
        // The tray's short names stand for their ports here too.
        if (!filter.port.empty() && c_.tray.Has(filter.port))
            filter.port = c_.tray.PortJson(filter.port)["path"];
        std::vector<tray::JobRecord> records;
        {
            std::lock_guard<std::mutex> lock(historyLock_);
            records = c_.history.List(filter);
        }
        res.set_header("Cache-Control", "no-store");
        if (req.has_param("format") && req.get_param_value("format") == "csv") {
            res.set_header("Content-Disposition", "attachment; filename=\"krt42-history.csv\"");
            res.set_content(tray::HistoryCsv(records), "text/csv; charset=utf-8");
            return;
        }
        res.set_content("{\"jobs\": " + tray::HistoryJson(records) + "}\n",
                        "application/json; charset=utf-8");
    }

    void Stream(const httplib::Request& req, httplib::Response& res) {
        if (c_.streams.fetch_add(1) >= MAX_STREAMS) {
            c_.streams.fetch_sub(1);
            return Error(res, 503, "too many event streams are open");
        }
        // Where a reconnecting client left off; a new one starts from now.
        int64_t last = c_.events.LastId();
        bool earlierRun = false;
        if (req.has_header("Last-Event-ID")) {
            const int64_t given = std::atoll(req.get_header_value("Last-Event-ID").c_str());
            // An id this station never gave comes from an earlier run: the client reads the tray
            // again and follows from now.
            earlierRun = given > last;
            if (!earlierRun) last = given;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Accel-Buffering", "no");
        auto position = std::make_shared<int64_t>(last);
        auto started = std::make_shared<bool>(false);
        auto reset = std::make_shared<bool>(earlierRun);
        Context* c = &c_;
        res.set_chunked_content_provider(
            "text/event-stream",
            [c, position, started, reset](size_t, httplib::DataSink& sink) {
                if (!*started) {
                    *started = true;
                    const std::string hello =
                        std::string("retry: 2000\n\n") + (*reset ? "event: reset\ndata: {}\n\n" : "");
                    if (!sink.write(hello.data(), hello.size())) return false;
                }
                if (!c->events.Wait(*position, kKeepAliveCommentMs)) return false;
                bool gap = false;
                std::string out;
                for (const Event& e : c->events.Since(*position, &gap)) {
                    out += SseText(e);
                    *position = e.id;
                }
                // Progress older than the ring is gone: the client reads the tray again.
                if (gap) out = "event: reset\ndata: {}\n\n" + out;
                if (out.empty()) out = ": still here\n\n";
                return sink.write(out.data(), out.size());
            },
            [c](bool) { c->streams.fetch_sub(1); });
    }

  private:
    Context& c_;
    std::mutex historyLock_;
};

}  // namespace

void InstallRoutes(httplib::Server& server, Context& context) {
    auto h = std::make_shared<Handlers>(context);
    Context* c = &context;

    server.set_pre_routing_handler([c](const httplib::Request& req, httplib::Response& res) {
        const Refusal refusal = c->access.Check(req);
        if (refusal.status == 0) return httplib::Server::HandlerResponse::Unhandled;
        Error(res, refusal.status, refusal.reason);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        const std::string reason = res.status == 413   ? "the request is too large"
                                   : res.status == 404 ? "no such address"
                                                       : "the request cannot be served";
        Error(res, res.status, reason);
    });

    server.Get("/api/ports", [c](const httplib::Request&, httplib::Response& res) {
        Reply(res, 200, {{"version", KRT_VERSION_TEXT}, {"ports", c->tray.PortsJson()}});
    });
    server.Get(R"(/api/ports/([^/]+))", [c, h](const httplib::Request& req, httplib::Response& res) {
        std::string port;
        if (h->PortOf(req, res, &port)) Reply(res, 200, c->tray.PortJson(port));
    });
    for (const char* kind : {"find", "read"}) {
        server.Post(
            std::string(R"(/api/ports/([^/]+)/)") + kind,
            [h, kind](const httplib::Request& req, httplib::Response& res) { h->Simple(req, res, kind); });
    }
    server.Post(R"(/api/ports/([^/]+)/write)",
                [h](const httplib::Request& req, httplib::Response& res) { h->Write(req, res); });
    server.Post(R"(/api/ports/([^/]+)/diff)", [h](const httplib::Request& req, httplib::Response& res) {
        h->DiffOrApply(req, res, "diff");
    });
    server.Post(R"(/api/ports/([^/]+)/apply)", [h](const httplib::Request& req, httplib::Response& res) {
        h->DiffOrApply(req, res, "apply");
    });
    server.Post(R"(/api/ports/([^/]+)/stop)", [c, h](const httplib::Request& req, httplib::Response& res) {
        std::string port;
        if (!h->PortOf(req, res, &port)) return;
        const int64_t job = c->tray.Stop(port);
        Reply(res, 200, {{"port", port}, {"stopped", job == 0 ? json(nullptr) : json(job)}});
    });
    server.Get(R"(/api/ports/([^/]+)/configuration)",
               [h](const httplib::Request& req, httplib::Response& res) { h->Configuration(req, res); });
    server.Post("/api/load", [h](const httplib::Request& req, httplib::Response& res) { h->Load(req, res); });
    server.Get(R"(/api/jobs/(\d+))",
               [h](const httplib::Request& req, httplib::Response& res) { h->Job(req, res); });
    server.Get("/api/history",
               [h](const httplib::Request& req, httplib::Response& res) { h->History(req, res); });
    server.Get("/api/events",
               [h](const httplib::Request& req, httplib::Response& res) { h->Stream(req, res); });

    // The page, its assets, and the token's own address, which leaves the token in a cookie.
    server.Get(R"(/([A-Za-z0-9._-]*))", [c](const httplib::Request& req, httplib::Response& res) {
        if (req.path == "/" && req.has_param("token") && c->access.TokenNeeded()) {
            res.set_header("Set-Cookie", c->access.TokenCookie());
            res.set_redirect("/", 303);
            return;
        }
        const Asset* asset = FindAsset(req.path == "/" ? "/index.html" : req.path);
        if (asset == nullptr) return Error(res, 404, "no such address");
        res.set_header("Cache-Control", "no-cache");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; connect-src 'self'; img-src 'self' data:; style-src 'self'; "
                       "script-src 'self'; frame-ancestors 'none'");
        res.set_content(std::string(asset->data, asset->size), asset->type);
    });
}

}  // namespace station
