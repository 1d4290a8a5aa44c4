// The history's texts: its clock, the times a user may give, and its records as CSV and JSON. No
// SQLite here: the Windows build, which keeps no history, shares these.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tray/History.h"
#include "tray/Text.h"

#include <nlohmann/json.hpp>

namespace tray {

namespace {

using Json = nlohmann::ordered_json;

const char kCsvHeader[] =
    "id,started,ended,port,kind,state,exit,result,source,speed,adapter_version,adapter_number,"
    "adapter_board,file,size,sha256,bytes_sent,restarts";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Unknown numbers (negative; a speed of 0, when no line was used) are null, an empty CSV field.
Json JsonNumber(int64_t n, bool known) {
    return known ? Json(n) : Json(nullptr);
}

Json RecordObject(const JobRecord& r) {
    Json o = Json::object();
    o["id"] = r.id;
    o["started"] = r.started;
    o["ended"] = r.ended;
    o["port"] = r.port;
    o["kind"] = r.kind;
    o["state"] = r.state;
    o["exit"] = JsonNumber(r.exitCode, r.exitCode >= 0);
    o["result"] = r.result;
    o["source"] = r.source;
    o["speed"] = JsonNumber(r.speed, r.speed > 0);
    o["adapter_version"] = r.adapterVersion;
    o["adapter_number"] = r.adapterNumber;
    o["adapter_board"] = r.adapterBoard;
    o["file"] = r.fileName;
    o["size"] = JsonNumber(r.fileSize, r.fileSize >= 0);
    o["sha256"] = r.fileSha256;
    o["bytes_sent"] = JsonNumber(r.bytesSent, r.bytesSent >= 0);
    o["restarts"] = JsonNumber(r.restarts, r.restarts >= 0);
    Json rows = Json::array();
    for (const JobRecord::Row& row : r.rows) {
        Json x = Json::object();
        x["row"] = row.row;
        x["param"] = row.param;
        x["index"] = row.index;
        x["before"] = row.before;
        x["after"] = row.after;
        x["result"] = row.result;
        rows.push_back(std::move(x));
    }
    o["rows"] = std::move(rows);
    return o;
}

// Texts from devices and users may be no UTF-8: they are written with U+FFFD rather than thrown at.
std::string Dump(const Json& json) {
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string HistoryNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return UtcClockText(std::chrono::duration_cast<std::chrono::milliseconds>(now).count(), true);
}

bool HistoryTimeValid(const std::string& since) {
    std::string t = since;
    if (!t.empty() && t.back() == 'Z') t.pop_back();
    // The fraction of a second needs the whole time before it, and one digit at least.
    const size_t dot = t.find('.');
    if (dot != std::string::npos) {
        if (dot != 19 || dot + 1 == t.size()) return false;
        for (size_t i = dot + 1; i < t.size(); ++i) {
            if (!IsDigit(t[i])) return false;
        }
        t.resize(dot);
    }
    // "YYYY-MM-DDTHH:MM:SS" cut after any of its fields, each field within its range.
    static const char kPattern[] = "dddd-dd-ddTdd:dd:dd";
    struct Field {
        size_t at;
        int low, high;
    };
    static const Field kFields[] = {{0, 0, 9999}, {5, 1, 12},  {8, 1, 31},
                                    {11, 0, 23},  {14, 0, 59}, {17, 0, 59}};
    bool whole = false;
    for (const Field& f : kFields) whole = whole || t.size() == f.at + (f.at == 0 ? 4 : 2);
    if (!whole) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        if (kPattern[i] == 'd' ? !IsDigit(t[i]) : t[i] != kPattern[i]) return false;
    }
    for (const Field& f : kFields) {
        const size_t width = f.at == 0 ? 4 : 2;
        if (f.at + width > t.size()) break;
        const int value = std::stoi(t.substr(f.at, width));
        if (value < f.low || value > f.high) return false;
    }
    return true;
}

std::string HistoryCsv(const std::vector<JobRecord>& records) {
    // The JSON object's fields, in the header's order, without the rows: one list of fields for both.
    std::string out = std::string(kCsvHeader) + "\n";
    for (const JobRecord& r : records) {
        Json o = RecordObject(r);
        o.erase("rows");
        bool first = true;
        for (const auto& field : o.items()) {
            const Json& v = field.value();
            const std::string cell = v.is_null()     ? std::string()
                                     : v.is_string() ? v.get<std::string>()
                                                     : v.dump();
            out += (first ? "" : ",") + CsvField(cell);
            first = false;
        }
        out += "\n";
    }
    return out;
}

std::string HistoryJson(const std::vector<JobRecord>& records) {
    Json list = Json::array();
    for (const JobRecord& r : records) list.push_back(RecordObject(r));
    return Dump(list);
}

std::string HistoryRecordJson(const JobRecord& record) {
    return Dump(RecordObject(record));
}

}  // namespace tray
