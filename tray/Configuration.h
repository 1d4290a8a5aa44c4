// An adapter's configuration as a file: the 104 rows of a read with where and when they were read,
// written as JSON or CSV and read back from either, and the plan that brings an adapter to a file.
// Texts are UTF-8 throughout; nothing here touches a file or a port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tray/Values.h"

namespace tray {

// The layout this krt42 writes; a file of a higher number is refused, not guessed at. Format 2
// keeps the adapter's own bytes of each value beside the text; format 1 files are still read.
constexpr int CONFIG_FORMAT = 2;
// Larger inputs are refused before parsing: a full file of the longest values is far below it.
constexpr size_t CONFIG_MAX_BYTES = 8u << 20;

struct ConfigRow {
    int row;
    std::string param, index, value, unit, name;
    bool answered;
    // The value's bytes exactly as the adapter sent them, where the file keeps them: `value` is
    // only what the configurator shows of them, and several bytes show alike.
    std::string bytes = std::string();
    bool hasBytes = false;
};

struct Configuration {
    int formatVersion = CONFIG_FORMAT;
    std::string tool, port;
    int speed = 0;
    std::string time;             // ISO 8601, UTC
    std::vector<ConfigRow> rows;  // ascending row numbers, each at most once
};

// "krt42 " and this build's version.
std::string ToolText();
// Seconds since 1970 as "2026-12-07T14:46:35Z".
std::string UtcTimeText(int64_t seconds);

// A row of the table with its fixed texts (parameter, index, name) and what a read put into it,
// the value and unit as the table holds them (Windows-1251), and the adapter's own bytes of the
// value when they are known.
ConfigRow TableRow(int row, const std::string& ansiValue, const std::string& ansiUnit, bool answered,
                   const std::string* adapterBytes = nullptr);
std::string ConfigJson(const Configuration& config);
// The rows only, under the header of the table's CSV: the first line stays the header for every
// spreadsheet and CSV library.
std::string ConfigCsv(const Configuration& config);

// Either form, told apart by its first character. On failure `error` says what and where (line,
// row) and `out` is left alone.
bool ParseConfiguration(const std::string& bytes, Configuration* out, std::string* error);

// The bytes a write of the file's row sends: the adapter's own bytes when the file keeps them
// and its value is still the text they show (a clone), otherwise the value as a person typed it,
// converted as UsableValue converts it.
bool WriteBytes(const ConfigRow& row, std::string* ansi, std::string* error);
// UsableValue for every answered row of the file that `rowsWanted` selects (null: all).
bool UsableRows(const Configuration& config, const std::vector<bool>* rowsWanted, std::string* error);

// A row that a write would change.
struct Difference {
    int row;
    std::string param, index, fileValue, adapterValue;
    bool adapterAnswered = true;  // false: the read got nothing for the row, so agreement is unknown
    std::string fileBytes = std::string();     // what a write of the row sends (1251, or the adapter's bytes)
    std::string adapterBytes = std::string();  // what the adapter holds, as it sent it
};

// The rows that are answered in `file`, selected by `rowsWanted` (null: all) and whose bytes a
// write would change on the adapter, in row order. Rows unanswered in the file are never listed.
// A file without bytes (format 1) agrees with a row whose shown text is its value.
std::vector<Difference> Differences(const Configuration& file, const Configuration& adapter,
                                    const std::vector<bool>* rowsWanted);

}  // namespace tray
