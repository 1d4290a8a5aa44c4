// The job history: one record per job of the station or of krt42 (--history), with what the job
// was given and how it ended, kept in an SQLite file that several processes may write at once. A
// job is recorded when it starts and updated when it ends, so that a process that dies in the
// middle leaves a record that the next start marks "interrupted": never lost, never a success.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tray {

// One job. Texts are UTF-8; an empty text or a negative number is "not known".
struct JobRecord {
    int64_t id = 0;
    std::string started, ended;  // ISO 8601 in UTC with milliseconds ("2026-12-07T14:46:35.123Z")
    std::string port;            // the port as named (a path, COMn)
    std::string kind;            // find, read, write, diff, apply, load
    std::string state;           // running, done, failed, stopped, interrupted
    int exitCode = -1;           // krt42's exit code; -1 while running or when interrupted
    std::string result;          // how it ended, in krt42's words ("done", "no adapter on ...")
    std::string source;          // "station" or "krt42"
    int speed = 0;               // the line speed, 0 when none was used
    std::string adapterVersion, adapterNumber, adapterBoard;  // where a read got them
    std::string fileName;                                     // load: the program file's name
    int64_t fileSize = -1;
    std::string fileSha256;  // lower-case hex
    int64_t bytesSent = -1;
    int restarts = -1;

    // write and apply: each row written, with its value before and after (shown texts) and how its
    // write ended ("written", "refused: ...", "unanswered", ...).
    struct Row {
        int row = 0;
        std::string param, index, before, after, result;
    };
    std::vector<Row> rows;
};

struct HistoryFilter {
    std::string port;   // exactly this port ("" any)
    std::string kind;   // exactly this kind ("" any)
    std::string since;  // records started at or after this time ("" any): a UTC time as above, or a
                        // prefix of one ("2026-12-07", "2026-12-07T14"), with or without a Z
    int limit = 0;      // the newest this many (0: all)
};

// The history file. One History per thread that writes; each call is one short transaction.
class History {
  public:
    // The version of the file's layout, kept in its user_version.
    static const int SCHEMA_VERSION;

    History();
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Opens the file, making it and its folder when missing, and brings an older layout up to
    // date in one transaction. False, with the reason, when it cannot: a file of a newer layout
    // is refused, never changed.
    bool Open(const std::string& path, std::string* error);
    bool IsOpen() const;
    // Whether this build keeps a history at all (the Windows builds have no SQLite).
    static bool Available();

    // Records of jobs still "running" whose process has ended (killed, a power cut) become
    // "interrupted". A process counts as ended only when the system has no process of its number
    // (this process and other users' processes are alive). Gives how many.
    int MarkInterrupted();
    // A job that starts: recorded as running by this process. Gives its id (0 on failure).
    int64_t Begin(const JobRecord& record);
    // The end of the job `record.id`: state, exit code, result, what it learned, its rows. What the
    // end leaves unknown keeps what the start recorded; false for no such job or no state.
    bool End(const JobRecord& record);

    // Newest first.
    std::vector<JobRecord> List(const HistoryFilter& filter);
    bool Find(int64_t id, JobRecord* record);

    // Why the last call failed; empty after one that did not (an empty List is then no failure).
    const std::string& Error() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The current time as a history time.
std::string HistoryNow();
// Whether a text is a usable --since: a time as the history writes it, or a prefix of one that
// ends after a whole field, a Z allowed at the end; month, day, hour, minute and second in range.
bool HistoryTimeValid(const std::string& since);

// Records as CSV (a header line, then one line per job; rows not included) and as JSON (a list of
// objects, rows included). Unknown numbers (negative ones, a speed of 0) are empty CSV fields and
// JSON nulls.
std::string HistoryCsv(const std::vector<JobRecord>& records);
std::string HistoryJson(const std::vector<JobRecord>& records);
// One record as a JSON object.
std::string HistoryRecordJson(const JobRecord& record);

}  // namespace tray
