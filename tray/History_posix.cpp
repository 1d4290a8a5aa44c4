// The job history in SQLite. The station and any number of krt42 runs write one file at once: the
// file is in WAL mode (readers never wait for a writer), every writer waits its turn for a while
// rather than failing at once, and every call is one short transaction.
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tray/History.h"

namespace tray {

namespace {

// The file's layout as the steps that lead to it, oldest first: step k brings user_version k to
// k + 1. A step once released never changes; a new layout is a new step at the end.
const char* const kMigrations[] = {
    // 1: one row per job.
    "CREATE TABLE jobs ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " started TEXT NOT NULL,"
    " ended TEXT,"
    " port TEXT NOT NULL,"
    " kind TEXT NOT NULL,"
    " state TEXT NOT NULL,"
    " exit_code INTEGER,"
    " result TEXT,"
    " speed INTEGER,"
    " adapter_version TEXT,"
    " adapter_number TEXT,"
    " adapter_board TEXT,"
    " file_name TEXT,"
    " file_size INTEGER,"
    " file_sha256 TEXT,"
    " bytes_sent INTEGER,"
    " restarts INTEGER);"
    "CREATE INDEX jobs_by_started ON jobs(started, id);"
    "CREATE INDEX jobs_by_port ON jobs(port, started, id);"
    "CREATE INDEX jobs_by_kind ON jobs(kind, started, id);",
    // 2: who ran the job (and whether it still runs), and the rows that write and apply wrote.
    "ALTER TABLE jobs ADD COLUMN source TEXT;"
    "ALTER TABLE jobs ADD COLUMN pid INTEGER;"
    "CREATE INDEX jobs_running ON jobs(pid) WHERE state = 'running';"
    "CREATE TABLE job_rows ("
    " job_id INTEGER NOT NULL REFERENCES jobs(id),"
    " seq INTEGER NOT NULL,"
    " row INTEGER NOT NULL,"
    " param TEXT NOT NULL,"
    " param_index TEXT NOT NULL,"
    " value_before TEXT,"
    " value_after TEXT,"
    " result TEXT,"
    " PRIMARY KEY (job_id, seq));",
};

// A writer waits this long for the others before it gives up.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kWalRetryMs = 10;

const char kInterruptedResult[] = "interrupted: the program ended before the job did";

const char kColumns[] =
    "id, started, ended, port, kind, state, exit_code, result, source, speed, adapter_version, "
    "adapter_number, adapter_board, file_name, file_size, file_sha256, bytes_sent, restarts";

// One prepared statement; its texts and numbers always go in as bound parameters.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt_ != nullptr; }

    void Text(int at, const std::string& text) {
        sqlite3_bind_text(stmt_, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    // An empty text is stored as NULL: "not known".
    void Optional(int at, const std::string& text) {
        if (text.empty()) {
            sqlite3_bind_null(stmt_, at);
        } else {
            Text(at, text);
        }
    }
    // A number outside what is known (`known` false) is stored as NULL.
    void Number(int at, int64_t n, bool known = true) {
        if (known) {
            sqlite3_bind_int64(stmt_, at, n);
        } else {
            sqlite3_bind_null(stmt_, at);
        }
    }

    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    bool Run() { return Step() == SQLITE_DONE; }
    void Reset() {
        if (stmt_ == nullptr) return;
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

    std::string TextAt(int column) const {
        const unsigned char* text = sqlite3_column_text(stmt_, column);
        if (text == nullptr) return std::string();
        return std::string(reinterpret_cast<const char*>(text),
                           static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
    }
    int64_t NumberAt(int column, int64_t unknown) const {
        return sqlite3_column_type(stmt_, column) == SQLITE_NULL ? unknown
                                                                 : sqlite3_column_int64(stmt_, column);
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

JobRecord RecordAt(const Statement& s) {
    JobRecord r;
    r.id = s.NumberAt(0, 0);
    r.started = s.TextAt(1);
    r.ended = s.TextAt(2);
    r.port = s.TextAt(3);
    r.kind = s.TextAt(4);
    r.state = s.TextAt(5);
    r.exitCode = static_cast<int>(s.NumberAt(6, -1));
    r.result = s.TextAt(7);
    r.source = s.TextAt(8);
    r.speed = static_cast<int>(s.NumberAt(9, 0));
    r.adapterVersion = s.TextAt(10);
    r.adapterNumber = s.TextAt(11);
    r.adapterBoard = s.TextAt(12);
    r.fileName = s.TextAt(13);
    r.fileSize = s.NumberAt(14, -1);
    r.fileSha256 = s.TextAt(15);
    r.bytesSent = s.NumberAt(16, -1);
    r.restarts = static_cast<int>(s.NumberAt(17, -1));
    return r;
}

// Whether the process that wrote a "running" record may still be at it. A process of another
// user answers EPERM: alive. Only "no such process" is an end.
bool ProcessAlive(int64_t pid) {
    if (pid <= 0 || pid > INT_MAX) return false;  // kill(0) and kill(-1) would name groups
    if (pid == static_cast<int64_t>(getpid())) return true;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace

const int History::SCHEMA_VERSION = static_cast<int>(std::size(kMigrations));

struct History::Impl {
    sqlite3* db = nullptr;
    std::string path;
    std::string error;

    ~Impl() { Close(); }

    void Close() {
        sqlite3_close_v2(db);
        db = nullptr;
    }

    bool Fail(const std::string& what) {
        error = what;
        if (db != nullptr) error += ": " + std::string(sqlite3_errmsg(db));
        return false;
    }

    bool Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    // Ends a transaction, undone; the failure's text is kept.
    void Rollback() {
        if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    // A transaction that failed half way: the failure is noted and nothing of it stays.
    bool Abandon(const std::string& what) {
        Fail(what);
        Rollback();
        return false;
    }
    bool Commit(const std::string& what) { return Exec("COMMIT") || Abandon(what); }

    bool UserVersion(int* version) {
        Statement s(db, "PRAGMA user_version");
        if (s.Step() != SQLITE_ROW) return false;
        *version = static_cast<int>(s.NumberAt(0, 0));
        return true;
    }

    std::string Newer(int version) const {
        return "the history " + path + " has layout " + std::to_string(version) +
               ", newer than this program's " + std::to_string(SCHEMA_VERSION) + "; it is left as it is";
    }

    // The switch of a new file to WAL takes the file whole for a moment, and SQLite does not wait
    // for that with the busy timeout: a process that opens the file at the same time tries again.
    bool UseWal() {
        const std::string what = "cannot put the history " + path + " in WAL mode";
        {
            Statement mode(db, "PRAGMA journal_mode");
            if (mode.Step() == SQLITE_ROW && mode.TextAt(0) == "wal") return true;
        }
        for (int waited = 0;; waited += kWalRetryMs) {
            Statement wal(db, "PRAGMA journal_mode = WAL");
            const int rc = wal.Step();
            if (rc == SQLITE_ROW) {
                if (wal.TextAt(0) == "wal") return true;
                error = what + " (it stays in " + wal.TextAt(0) + " mode)";
                return false;
            }
            if ((rc & 0xFF) != SQLITE_BUSY || waited >= kBusyTimeoutMs) return Fail(what);
            sqlite3_sleep(kWalRetryMs);
        }
    }

    bool Migrate() {
        const std::string what = "cannot bring the history " + path + " up to date";
        // A file that is up to date is not written to: a user who may only read it can list it.
        int version = 0;
        if (!UserVersion(&version)) return Fail("cannot read the history " + path);
        if (version == SCHEMA_VERSION) return true;
        if (version > SCHEMA_VERSION) {
            error = Newer(version);
            return false;
        }
        // IMMEDIATE: of two processes that open a new file at once, one makes its tables and the
        // other then finds them made.
        if (!Exec("BEGIN IMMEDIATE")) return Fail(what);
        // Read again: another process may have brought the file up to date, or beyond, meanwhile.
        if (!UserVersion(&version)) return Abandon(what);
        if (version > SCHEMA_VERSION) {
            Rollback();
            error = Newer(version);
            return false;
        }
        // Another program's database, named by mistake, is not ours to add tables to.
        if (version == 0) {
            Statement s(db, "SELECT count(*) FROM sqlite_master");
            if (s.Step() != SQLITE_ROW) return Abandon(what);
            if (s.NumberAt(0, 0) != 0) {
                Rollback();
                error = "the file " + path + " holds tables of another kind: it is no job history";
                return false;
            }
        }
        for (int step = version; step < SCHEMA_VERSION; ++step) {
            if (!Exec(kMigrations[step])) return Abandon(what + " (layout " + std::to_string(step + 1) + ")");
        }
        const std::string set = "PRAGMA user_version = " + std::to_string(SCHEMA_VERSION);
        if (version < SCHEMA_VERSION && !Exec(set.c_str())) return Abandon(what);
        return Commit(what);
    }

    bool LoadRows(JobRecord* record) {
        Statement s(db,
                    "SELECT row, param, param_index, value_before, value_after, result FROM job_rows"
                    " WHERE job_id = ?1 ORDER BY seq");
        s.Number(1, record->id);
        record->rows.clear();
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            record->rows.push_back(JobRecord::Row{static_cast<int>(s.NumberAt(0, 0)), s.TextAt(1),
                                                  s.TextAt(2), s.TextAt(3), s.TextAt(4), s.TextAt(5)});
        }
        return rc == SQLITE_DONE;
    }
};

History::History() : impl_(new Impl) {}

History::~History() = default;

bool History::Available() {
    return true;
}

bool History::Open(const std::string& path, std::string* error) {
    Impl& m = *impl_;
    m.Close();
    m.path = path;
    m.error.clear();
    auto refuse = [&]() {
        m.Close();
        if (error != nullptr) *error = m.error;
        return false;
    };

    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            m.error = "cannot make the folder " + folder.string() + ": " + ec.message();
            return refuse();
        }
    }
    // A name that begins with "file:" is a file's name here, never a URI with options.
    const std::string name = path.compare(0, 5, "file:") == 0 ? "./" + path : path;
    if (sqlite3_open_v2(name.c_str(), &m.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        m.Fail("cannot open the history " + path);
        return refuse();
    }
    sqlite3_busy_timeout(m.db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m.db, 1);
    // The layout first: a file that is refused is refused before the switch to WAL writes to it.
    if (!m.Migrate() || !m.UseWal()) return refuse();
    if (!m.Exec("PRAGMA foreign_keys = ON")) {
        m.Fail("cannot open the history " + path);
        return refuse();
    }
    return true;
}

bool History::IsOpen() const {
    return impl_->db != nullptr;
}

int History::MarkInterrupted() {
    Impl& m = *impl_;
    m.error.clear();
    if (m.db == nullptr) {
        m.error = "the history is not open";
        return 0;
    }
    const std::string what = "cannot mark interrupted jobs in the history " + m.path;
    if (!m.Exec("BEGIN IMMEDIATE")) {
        m.Fail(what);
        return 0;
    }
    std::vector<int64_t> ended;
    {
        Statement s(m.db, "SELECT id, pid FROM jobs WHERE state = 'running'");
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            if (!ProcessAlive(s.NumberAt(1, 0))) ended.push_back(s.NumberAt(0, 0));
        }
        if (rc != SQLITE_DONE) {
            m.Abandon(what);
            return 0;
        }
    }
    Statement mark(m.db,
                   "UPDATE jobs SET state = 'interrupted', ended = ?2, result = ?3, exit_code = NULL"
                   " WHERE id = ?1 AND state = 'running'");
    const std::string now = HistoryNow();
    for (int64_t id : ended) {
        mark.Reset();
        mark.Number(1, id);
        mark.Text(2, now);
        mark.Text(3, kInterruptedResult);
        if (!mark.Run()) {
            m.Abandon(what);
            return 0;
        }
    }
    if (!m.Commit(what)) return 0;
    return static_cast<int>(ended.size());
}

namespace {

// What a job learns (its speed, its adapter, its file and how much of it went out), at the same
// places of the insert that starts a record and of the update that ends it: ?6 to ?14.
void BindLearned(Statement& s, const JobRecord& r) {
    s.Number(6, r.speed, r.speed > 0);
    s.Optional(7, r.adapterVersion);
    s.Optional(8, r.adapterNumber);
    s.Optional(9, r.adapterBoard);
    s.Optional(10, r.fileName);
    s.Number(11, r.fileSize, r.fileSize >= 0);
    s.Optional(12, r.fileSha256);
    s.Number(13, r.bytesSent, r.bytesSent >= 0);
    s.Number(14, r.restarts, r.restarts >= 0);
}

}  // namespace

int64_t History::Begin(const JobRecord& r) {
    Impl& m = *impl_;
    m.error.clear();
    if (m.db == nullptr) {
        m.error = "the history is not open";
        return 0;
    }
    Statement s(
        m.db,
        "INSERT INTO jobs (started, port, kind, state, result, source, speed, adapter_version,"
        " adapter_number, adapter_board, file_name, file_size, file_sha256, bytes_sent, restarts, pid)"
        " VALUES (?1, ?2, ?3, 'running', ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)");
    s.Text(1, r.started.empty() ? HistoryNow() : r.started);
    s.Text(2, r.port);
    s.Text(3, r.kind);
    s.Optional(4, r.result);
    s.Optional(5, r.source);
    BindLearned(s, r);
    s.Number(15, getpid());
    // One statement, its own transaction: last_insert_rowid is this connection's, and a History
    // belongs to one thread.
    if (!s.Run()) {
        m.Fail("cannot record a job in the history " + m.path);
        return 0;
    }
    return sqlite3_last_insert_rowid(m.db);
}

bool History::End(const JobRecord& r) {
    Impl& m = *impl_;
    m.error.clear();
    if (m.db == nullptr) {
        m.error = "the history is not open";
        return false;
    }
    const std::string what =
        "cannot record the end of job " + std::to_string(r.id) + " in the history " + m.path;
    if (r.state.empty()) {
        m.error = what + ": no state given";
        return false;
    }
    if (!m.Exec("BEGIN IMMEDIATE")) return m.Fail(what);
    {
        // What the end does not know keeps what the start knew (a load's file, say).
        Statement s(m.db,
                    "UPDATE jobs SET ended = ?2, state = ?3, exit_code = ?4, result = COALESCE(?5, result),"
                    " speed = COALESCE(?6, speed), adapter_version = COALESCE(?7, adapter_version),"
                    " adapter_number = COALESCE(?8, adapter_number),"
                    " adapter_board = COALESCE(?9, adapter_board), file_name = COALESCE(?10, file_name),"
                    " file_size = COALESCE(?11, file_size), file_sha256 = COALESCE(?12, file_sha256),"
                    " bytes_sent = COALESCE(?13, bytes_sent), restarts = COALESCE(?14, restarts)"
                    " WHERE id = ?1");
        s.Number(1, r.id);
        s.Text(2, r.ended.empty() ? HistoryNow() : r.ended);
        s.Text(3, r.state);
        s.Number(4, r.exitCode, r.exitCode >= 0);
        s.Optional(5, r.result);
        BindLearned(s, r);
        if (!s.Run()) return m.Abandon(what);
        if (sqlite3_changes(m.db) != 1) {
            m.Abandon(what);
            m.error = what + ": there is no such job";
            return false;
        }
    }
    // A second End of the same job replaces its rows rather than adding to them.
    Statement clear(m.db, "DELETE FROM job_rows WHERE job_id = ?1");
    clear.Number(1, r.id);
    if (!clear.Run()) return m.Abandon(what);
    Statement add(m.db,
                  "INSERT INTO job_rows (job_id, seq, row, param, param_index, value_before, value_after,"
                  " result) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    for (size_t k = 0; k < r.rows.size(); ++k) {
        const JobRecord::Row& row = r.rows[k];
        add.Reset();
        add.Number(1, r.id);
        add.Number(2, static_cast<int64_t>(k));
        add.Number(3, row.row);
        add.Text(4, row.param);
        add.Text(5, row.index);
        add.Text(6, row.before);
        add.Text(7, row.after);
        add.Text(8, row.result);
        if (!add.Run()) return m.Abandon(what);
    }
    return m.Commit(what);
}

std::vector<JobRecord> History::List(const HistoryFilter& filter) {
    Impl& m = *impl_;
    m.error.clear();
    std::vector<JobRecord> out;
    if (m.db == nullptr) {
        m.error = "the history is not open";
        return out;
    }
    const std::string what = "cannot read the history " + m.path;
    // A trailing Z would sort after the digits of every time it stands for ("...T14Z" after
    // "...T14:46"); without it, a prefix sorts before every time that begins with it.
    std::string since = filter.since;
    if (!since.empty() && since.back() == 'Z') since.pop_back();
    // The filters given, and only those, in the text: each then has its index to use.
    std::string sql = std::string("SELECT ") + kColumns + " FROM jobs WHERE 1";
    if (!filter.port.empty()) sql += " AND port = ?1";
    if (!filter.kind.empty()) sql += " AND kind = ?2";
    if (!since.empty()) sql += " AND started >= ?3";
    sql += " ORDER BY started DESC, id DESC LIMIT ?4";
    // One read transaction: the rows belong to the jobs as they were listed.
    if (!m.Exec("BEGIN")) {
        m.Fail(what);
        return out;
    }
    Statement s(m.db, sql.c_str());
    if (!filter.port.empty()) s.Text(1, filter.port);
    if (!filter.kind.empty()) s.Text(2, filter.kind);
    if (!since.empty()) s.Text(3, since);
    s.Number(4, filter.limit > 0 ? filter.limit : -1);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) out.push_back(RecordAt(s));
    bool ok = rc == SQLITE_DONE;
    for (JobRecord& r : out) ok = ok && m.LoadRows(&r);
    if (!ok) {
        m.Abandon(what);
        out.clear();
    }
    m.Rollback();
    return out;
}

bool History::Find(int64_t id, JobRecord* record) {
    Impl& m = *impl_;
    m.error.clear();
    if (m.db == nullptr) {
        m.error = "the history is not open";
        return false;
    }
    const std::string what = "cannot read the history " + m.path;
    if (!m.Exec("BEGIN")) return m.Fail(what);
    Statement s(m.db, (std::string("SELECT ") + kColumns + " FROM jobs WHERE id = ?1").c_str());
    s.Number(1, id);
    const int rc = s.Step();
    if (rc == SQLITE_DONE) {
        m.Rollback();
        m.error = "the history " + m.path + " has no job " + std::to_string(id);
        return false;
    }
    JobRecord r;
    if (rc == SQLITE_ROW) r = RecordAt(s);
    if (rc != SQLITE_ROW || !m.LoadRows(&r)) return m.Abandon(what);
    m.Rollback();
    *record = std::move(r);
    return true;
}

const std::string& History::Error() const {
    return impl_->error;
}

}  // namespace tray
