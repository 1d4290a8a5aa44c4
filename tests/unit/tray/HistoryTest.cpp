#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tray/History.h"

#include <nlohmann/json.hpp>

namespace tray_test {

using tray::History;
using tray::HistoryFilter;
using tray::JobRecord;

namespace fs = std::filesystem;

// A folder of its own for each test, removed after it.
class HistoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "krt-history-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir_ = pattern;
        path_ = (dir_ / "state" / "history.sqlite").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void OpenOrFail(History& h) {
        std::string error;
        ASSERT_TRUE(h.Open(path_, &error)) << error;
    }

    fs::path dir_;
    std::string path_;
};

// The file as another program sees it, through SQLite itself.
class RawDb {
  public:
    explicit RawDb(const std::string& path) { EXPECT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db_)); }
    ~RawDb() { sqlite3_close(db_); }
    void Exec(const std::string& sql) {
        char* message = nullptr;
        EXPECT_EQ(SQLITE_OK, sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message))
            << sql << ": " << message;
        sqlite3_free(message);
    }
    // A column of the first row of a query.
    std::string One(const std::string& sql, int column = 0) {
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr)) << sql;
        std::string out = "(none)";
        if (sqlite3_step(s) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(s, column);
            out = text ? reinterpret_cast<const char*>(text) : "NULL";
        }
        sqlite3_finalize(s);
        return out;
    }

  private:
    sqlite3* db_ = nullptr;
};

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

JobRecord Job(const std::string& port, const std::string& kind, const std::string& started = "") {
    JobRecord r;
    r.port = port;
    r.kind = kind;
    r.started = started;
    r.source = "krt42";
    return r;
}

// A process that has ended and been reaped: its number names nobody now.
pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

TEST_F(HistoryTest, NewFileHasTheLayoutItsVersionAndWal) {
    {
        History h;
        OpenOrFail(h);  // makes the missing folder too
        EXPECT_TRUE(h.IsOpen());
    }
    EXPECT_EQ(2, History::SCHEMA_VERSION);
    RawDb raw(path_);
    EXPECT_EQ("2", raw.One("PRAGMA user_version"));
    EXPECT_EQ("wal", raw.One("PRAGMA journal_mode"));
    EXPECT_EQ(
        "id,started,ended,port,kind,state,exit_code,result,speed,adapter_version,adapter_number,adapter_"
        "board,"
        "file_name,file_size,file_sha256,bytes_sent,restarts,source,pid",
        raw.One("SELECT group_concat(name) FROM pragma_table_info('jobs')"));
    EXPECT_EQ("job_id,seq,row,param,param_index,value_before,value_after,result",
              raw.One("SELECT group_concat(name) FROM pragma_table_info('job_rows')"));
    // The filters of List find their jobs through an index, not by reading the whole table.
    for (const char* where : {"port = 'x'", "kind = 'x'", "started >= 'x'"}) {
        const std::string plan =
            raw.One(std::string("EXPLAIN QUERY PLAN SELECT * FROM jobs WHERE ") + where, 3);
        EXPECT_NE(std::string::npos, plan.find("USING INDEX")) << where << ": " << plan;
    }
}

TEST_F(HistoryTest, VersionOneFileIsBroughtUpToDateWithItsJobs) {
    fs::create_directories(fs::path(path_).parent_path());
    {
        RawDb raw(path_);
        raw.Exec(
            "CREATE TABLE jobs (id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT NOT NULL, ended TEXT,"
            " port TEXT NOT NULL, kind TEXT NOT NULL, state TEXT NOT NULL, exit_code INTEGER, result TEXT,"
            " speed INTEGER, adapter_version TEXT, adapter_number TEXT, adapter_board TEXT, file_name TEXT,"
            " file_size INTEGER, file_sha256 TEXT, bytes_sent INTEGER, restarts INTEGER);"
            "INSERT INTO jobs (started, port, kind, state, exit_code, speed, adapter_number) VALUES"
            " ('2026-01-02T03:04:05.006Z', '/dev/ttyS0', 'read', 'done', 0, 19200, '00417');"
            "PRAGMA user_version = 1;");
    }
    History h;
    OpenOrFail(h);
    EXPECT_EQ("2", RawDb(path_).One("PRAGMA user_version"));
    JobRecord old;
    ASSERT_TRUE(h.Find(1, &old)) << h.Error();
    EXPECT_EQ("2026-01-02T03:04:05.006Z /dev/ttyS0 done 00417 ",
              old.started + " " + old.port + " " + old.state + " " + old.adapterNumber + " " + old.source);
    EXPECT_EQ(19200, old.speed);
    // The new layout works on the old file: a job with rows.
    JobRecord next = Job("/dev/ttyS0", "write");
    next.id = h.Begin(next);
    next.state = "done";
    next.rows = {{7, "012", "00", "1", "2", "written"}};
    ASSERT_TRUE(next.id == 2 && h.End(next)) << h.Error();
    ASSERT_TRUE(h.Find(2, &next) && next.rows.size() == 1);
}

TEST_F(HistoryTest, NewerLayoutsAndOtherFilesAreRefusedUnchanged) {
    const std::string newer = (dir_ / "newer.sqlite").string(), other = (dir_ / "other.sqlite").string(),
                      text = (dir_ / "notes.txt").string();
    RawDb(newer).Exec("CREATE TABLE jobs (id INTEGER PRIMARY KEY, later TEXT); PRAGMA user_version = 99;");
    RawDb(other).Exec("CREATE TABLE jobs (name TEXT); INSERT INTO jobs VALUES ('theirs');");
    std::ofstream(text) << "not a database at all, but long enough to be looked at as one\n";
    for (const auto& [path, reason] :
         {std::pair<std::string, const char*>{newer, "newer than this program's 2"},
          {other, "no job history"},
          {text, "not a database"}}) {
        const std::string before = FileBytes(path);
        History h;
        std::string error;
        EXPECT_FALSE(h.Open(path, &error));
        EXPECT_NE(std::string::npos, error.find(reason)) << error;
        EXPECT_FALSE(h.IsOpen());
        EXPECT_EQ(0, h.Begin(Job("/dev/ttyS0", "read")));
        EXPECT_TRUE(before == FileBytes(path)) << path;
    }
    EXPECT_EQ("delete", RawDb(newer).One("PRAGMA journal_mode"));
}

TEST_F(HistoryTest, BeginEndAndFindGiveBackTheWholeJob) {
    History h;
    OpenOrFail(h);
    JobRecord load = Job("/dev/ttyUSB0", "load", "2026-12-07T14:46:35.123Z");
    load.source = "station";
    load.fileName = "prog'; DROP TABLE jobs; --.hex";
    load.fileSize = 4096;
    load.fileSha256 = std::string(64, 'a');
    load.id = h.Begin(load);
    ASSERT_GT(load.id, 0) << h.Error();

    JobRecord got;
    ASSERT_TRUE(h.Find(load.id, &got));
    EXPECT_EQ("running|" + load.fileName, got.state + "|" + got.fileName);
    EXPECT_EQ(std::to_string(getpid()), RawDb(path_).One("SELECT pid FROM jobs"));

    // The end knows nothing of the file: what the start knew stays.
    JobRecord end;
    end.id = load.id;
    end.state = "failed";
    end.exitCode = 1;
    end.result = "the adapter stopped answering";
    end.speed = 115200;
    end.adapterVersion = "\xff\xfe odd bytes";
    end.bytesSent = 1024;
    end.restarts = 3;
    end.rows = {{3, "099", "01", "7", u8"8 \u00b0C", "written"}, {1, "", "", "", "", "refused: \"no\""}};
    end.ended = "2026-12-07T14:47:00.000Z";
    ASSERT_TRUE(h.End(end)) << h.Error();
    ASSERT_TRUE(h.Find(load.id, &got));
    JobRecord want = end;
    want.started = load.started;
    want.port = load.port;
    want.kind = load.kind;
    want.source = load.source;
    want.fileName = load.fileName;
    want.fileSize = load.fileSize;
    want.fileSha256 = load.fileSha256;
    EXPECT_EQ(tray::HistoryRecordJson(want), tray::HistoryRecordJson(got));
    EXPECT_EQ(end.adapterVersion, got.adapterVersion);  // byte for byte, where JSON shows U+FFFD

    // A second end replaces the rows; an end of no job, or without a state, changes nothing.
    end.rows.resize(1);
    ASSERT_TRUE(h.End(end));
    end.id = 999;
    EXPECT_FALSE(h.End(end));
    end.id = load.id;
    end.state.clear();
    EXPECT_FALSE(h.End(end));
    EXPECT_FALSE(h.Find(999, &got) || h.Error().empty());
    EXPECT_TRUE(h.List({}).size() == 1 && h.Error().empty()) << h.Error();
    EXPECT_EQ("1|failed",
              RawDb(path_).One("SELECT count(*) || '|' || (SELECT state FROM jobs) FROM job_rows"));
}

TEST_F(HistoryTest, MarkInterruptedEndsOnlyJobsWhoseProcessIsGone) {
    History h;
    OpenOrFail(h);
    int hold[2];
    ASSERT_EQ(0, pipe(hold));
    const pid_t living = fork();
    if (living == 0) {
        char c;
        close(hold[1]);
        _exit(read(hold[0], &c, 1) < 0 ? 1 : 0);  // until the parent closes its end
    }
    close(hold[0]);
    // Jobs 1 to 5: of this process, of a process that is gone, of one that lives, of pid 1 (alive,
    // perhaps not ours to signal), and one of a process that is gone but that had ended.
    const pid_t gone = DeadPid();
    for (const pid_t pid : {getpid(), gone, living, 1, gone}) {
        const int64_t id = h.Begin(Job("/dev/ttyS0", "read"));
        RawDb(path_).Exec("UPDATE jobs SET pid = " + std::to_string(pid) +
                          " WHERE id = " + std::to_string(id));
    }
    JobRecord finished;
    finished.id = 5;
    finished.state = "done";
    ASSERT_TRUE(h.End(finished));
    const std::string states = "SELECT group_concat(state) FROM (SELECT state FROM jobs ORDER BY id)";

    EXPECT_EQ(1, h.MarkInterrupted()) << h.Error();
    EXPECT_EQ(0, h.MarkInterrupted());
    EXPECT_EQ("running,interrupted,running,running,done", RawDb(path_).One(states));
    JobRecord got;
    ASSERT_TRUE(h.Find(2, &got));
    EXPECT_EQ("interrupted: the program ended before the job did", got.result);
    EXPECT_EQ(-1, got.exitCode);
    EXPECT_TRUE(tray::HistoryTimeValid(got.ended)) << got.ended;

    close(hold[1]);
    int status = 0;
    waitpid(living, &status, 0);
    EXPECT_EQ(1, h.MarkInterrupted());  // now it has ended too
    EXPECT_EQ("running,interrupted,interrupted,running,done", RawDb(path_).One(states));
}

TEST_F(HistoryTest, ListIsNewestFirstAndFiltersExactly) {
    History h;
    OpenOrFail(h);
    struct {
        const char *port, *kind, *started;
    } const jobs[] = {
        {"/dev/ttyUSB1", "read", "2026-12-06T23:59:59.999Z"},   // 1
        {"/dev/ttyUSB1", "write", "2026-12-07T14:46:35.123Z"},  // 2
        {"/dev/ttyUSB10", "read", "2026-12-07T14:50:00.000Z"},  // 3
        {"/dev/ttyUSB1", "read", "2026-12-07T14:46:35.123Z"},   // 4: the same time as 2
        {"COM3", "load", "2026-12-08T00:00:00.000Z"},           // 5
    };
    for (const auto& j : jobs) ASSERT_GT(h.Begin(Job(j.port, j.kind, j.started)), 0);
    JobRecord with = Job("", "");
    with.id = 2;
    with.state = "done";
    with.rows = {{5, "010", "00", "a", "b", "written"}};
    ASSERT_TRUE(h.End(with));

    auto ids = [&](const HistoryFilter& f) {
        std::vector<int64_t> out;
        for (const JobRecord& r : h.List(f)) out.push_back(r.id);
        return out;
    };
    using Ids = std::vector<int64_t>;
    EXPECT_EQ((Ids{5, 3, 4, 2, 1}), ids({}));
    EXPECT_EQ((Ids{4, 2, 1}), ids({"/dev/ttyUSB1", "", "", 0}));
    EXPECT_EQ((Ids{3, 4, 1}), ids({"", "read", "", 0}));
    EXPECT_EQ((Ids{4, 1}), ids({"/dev/ttyUSB1", "read", "", 0}));
    EXPECT_EQ((Ids{5, 3, 4, 2}), ids({"", "", "2026-12-07", 0}));
    EXPECT_EQ((Ids{5, 3, 4, 2}), ids({"", "", "2026-12-07T14Z", 0}));
    EXPECT_EQ((Ids{5, 3}), ids({"", "", "2026-12-07T14:47", 0}));
    EXPECT_EQ((Ids{5, 3, 4, 2}), ids({"", "", "2026-12-07T14:46:35.123Z", 0}));
    EXPECT_EQ((Ids{5, 3}), ids({"", "", "2026-12-07T14:46:35.124Z", 0}));
    EXPECT_EQ((Ids{5, 3}), ids({"", "", "", 2}));
    EXPECT_EQ((Ids{}), ids({"/dev/ttyUSB", "", "", 0}));
    EXPECT_EQ((Ids{}), ids({"' OR 1=1 --", "", "", 0}));
    const std::vector<JobRecord> two = h.List({"", "write", "", 0});
    ASSERT_EQ(1u, two.size());
    ASSERT_EQ(1u, two[0].rows.size());
    EXPECT_EQ("010", two[0].rows[0].param);
}

// Jobs of one writer, each begun and ended; the first failure's text, empty when none.
std::string WriteJobs(const std::string& path, const std::string& port, int count) {
    History h;
    std::string error;
    if (!h.Open(path, &error)) return error;
    for (int k = 0; k < count; ++k) {
        JobRecord r = Job(port, "write");
        r.id = h.Begin(r);
        r.state = "done";
        r.exitCode = 0;
        r.rows = {{k % 104, "001", "00", "0", std::to_string(k), "written"}};
        if (r.id == 0 || !h.End(r)) return h.Error();
    }
    return "";
}

TEST_F(HistoryTest, WritersInThreadsAndProcessesLoseNothing) {
    constexpr int kJobs = 150;
    // A child process and two threads start on a file that does not exist yet, all at once.
    int go[2];
    ASSERT_EQ(0, pipe(go));
    const pid_t child = fork();
    if (child == 0) {
        char c;
        close(go[1]);
        if (read(go[0], &c, 1) != 1) _exit(2);
        const std::string error = WriteJobs(path_, "child", kJobs);
        if (!error.empty()) std::fprintf(stderr, "child: %s\n", error.c_str());
        _exit(error.empty() ? 0 : 1);
    }
    close(go[0]);
    std::atomic<bool> start{false};
    std::string errors[2];
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            while (!start) std::this_thread::yield();
            errors[t] = WriteJobs(path_, "thread" + std::to_string(t), kJobs);
        });
    }
    ASSERT_EQ(1, write(go[1], "g", 1));
    start = true;
    for (std::thread& t : threads) t.join();
    close(go[1]);
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ("", errors[0]);
    EXPECT_EQ("", errors[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    History h;
    OpenOrFail(h);
    EXPECT_EQ(std::to_string(3 * kJobs) + " " + std::to_string(3 * kJobs),
              RawDb(path_).One("SELECT count(*) || ' ' || (SELECT count(*) FROM job_rows) FROM jobs"
                               " WHERE state = 'done'"));
    for (const char* port : {"child", "thread0", "thread1"}) {
        EXPECT_EQ(static_cast<size_t>(kJobs), h.List({port, "", "", 0}).size()) << port;
    }
}

TEST(HistoryText, CsvQuotesLikeASpreadsheetAndLeavesUnknownsEmpty) {
    JobRecord r;
    r.id = 7;
    r.started = "2026-12-07T14:46:35.123Z";
    r.port = "/dev/tty,1";
    r.kind = "write";
    r.state = "failed";
    r.exitCode = 4;
    r.result = "refused: \"value\"";
    r.source = " station";
    r.adapterBoard = "line\nend";
    r.fileSize = 0;
    const std::string csv = tray::HistoryCsv({r});
    EXPECT_EQ(
        "id,started,ended,port,kind,state,exit,result,source,speed,adapter_version,adapter_number,"
        "adapter_board,file,size,sha256,bytes_sent,restarts\n"
        "7,2026-12-07T14:46:35.123Z,,\"/dev/tty,1\",write,failed,4,\"refused: \"\"value\"\"\",\" "
        "station\",,,,"
        "\"line\nend\",,0,,,\n",
        csv);
    EXPECT_EQ(csv.substr(0, csv.find('\n') + 1), tray::HistoryCsv({}));
}

TEST(HistoryText, JsonHasNumbersNullsAndRowsAndSurvivesBrokenText) {
    JobRecord r;
    r.id = 3;
    r.kind = "apply";
    r.exitCode = 7;
    r.speed = 9600;
    r.result = "bad \xff byte";
    r.rows = {{12, "020", "01", "5", "6", "written"}};
    const nlohmann::json list = nlohmann::json::parse(tray::HistoryJson({r, JobRecord()}));
    ASSERT_EQ(2u, list.size());
    const nlohmann::json& o = list[0];
    EXPECT_EQ(3, o["id"]);
    EXPECT_EQ(7, o["exit"]);
    EXPECT_EQ(9600, o["speed"]);
    EXPECT_TRUE(o["size"].is_null() && o["restarts"].is_null());
    EXPECT_EQ(u8"bad \uFFFD byte", o["result"]);
    EXPECT_EQ(
        nlohmann::json::parse(R"([{"row": 12, "param": "020", "index": "01", "before": "5", "after": "6",
                                         "result": "written"}])"),
        o["rows"]);
    EXPECT_TRUE(list[1]["exit"].is_null() && list[1]["speed"].is_null());
    EXPECT_EQ(o, nlohmann::json::parse(tray::HistoryRecordJson(r)));
    EXPECT_EQ(nlohmann::json::array(), nlohmann::json::parse(tray::HistoryJson({})));
}

TEST(HistoryText, TimesAreUtcWithMillisecondsAndSinceTakesTheirPrefixes) {
    const std::string now = tray::HistoryNow();
    EXPECT_TRUE(std::regex_match(now, std::regex(R"(20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)"))) << now;
    EXPECT_TRUE(tray::HistoryTimeValid(now)) << now;

    for (const char* good : {"2026", "2026-12", "2026-12-07", "2026-12-07T14", "2026-12-07T14:46",
                             "2026-12-07T14:46:35", "2026-12-07T14:46:35.1", "2026-12-07T14:46:35.123Z",
                             "2026Z", "2026-12-07T14Z", "2026-01-31T23:59:59Z"}) {
        EXPECT_TRUE(tray::HistoryTimeValid(good)) << good;
    }
    // Field by field: a cut inside one, a wrong separator, a number out of range, trailing text.
    const std::string bad =
        "|Z|202|20261|2026-1|2026-12-7|2026-12-07 14:46|2026-12-07T1|2026-12-07T14:4|2026/12/07|"
        "2026-12-07T14:46:35.|2026-12-07T14:46.5|2026-12-07T14:46:35.12a|2026-12-07t14|2026-12-07T14z|"
        "2026-12-07T14ZZ|2026-13|2026-00|2026-12-32|2026-12-07T24|2026-12-07T14:60| 2026|x2026|"
        "2026-12-07T14:46:35Z1|\xef\xbc\x92";
    for (size_t at = 0, bar; at <= bad.size(); at = bar + 1) {
        bar = std::min(bad.find('|', at), bad.size());
        EXPECT_FALSE(tray::HistoryTimeValid(bad.substr(at, bar - at))) << bad.substr(at, bar - at);
    }
}

}  // namespace tray_test
