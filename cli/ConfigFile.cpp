#include "cli/ConfigFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "adapter/LinkState.h"
#include "adapter/ParamTable.h"
#include "adapter/Requests.h"
#include "cli/Text.h"
#include "configurator/ParameterTable.h"

namespace cli {

namespace {

const char kCsvHeader[] = "row,param,index,value,unit,name,answered";
const char* const kRowFields[] = {"row", "param", "index", "value", "unit", "name", "answered"};
constexpr int kRowFieldCount = 7;
// Deep enough for any file we write (three levels) with room for hand-made ones; shallow enough
// that a hostile file cannot exhaust the stack.
constexpr int kMaxDepth = 32;
// A full file has some 850 values; the bound keeps a file of a million tiny ones from taking
// hundreds of megabytes as a tree.
constexpr int kMaxValues = 4096;

std::string Line(int line) {
    return "line " + std::to_string(line) + ": ";
}

// ---- UTF-8 ----

// The line of the first byte that is not UTF-8, or 0 when all is.
int FirstBrokenLine(const std::string& text) {
    int line = 1;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        if (!NextCodePoint(text, i, &cp)) return line;
        if (cp == '\n') ++line;
    }
    return 0;
}

std::string CodePointName(uint32_t cp) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(cp));
    return name;
}

// ---- What the table's rows are ----

// The parameter's digits and the element's two digits of a row, as the write request names them.
void RowNames(int row, std::string* param, std::string* index) {
    const adapter::ParamRows* rows = adapter::RowsOfRow(row);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", rows->indexed ? row - rows->firstRow : 0);
    *param = rows->digits;
    *index = digits;
}

// ---- JSON ----

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    int line = 1;
    bool flag = false;
    std::string text;  // a string's content, or a number as written
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json* Member(const char* key) const {
        for (const auto& m : members) {
            if (m.first == key) return &m.second;
        }
        return nullptr;
    }
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : s_(text) {}

    bool Document(Json* out, std::string* error) {
        SkipBlanks();
        if (!Value(out, 0)) {
            *error = error_;
            return false;
        }
        SkipBlanks();
        if (pos_ != s_.size()) {
            *error = Line(line_) + "unexpected text after the end of the configuration";
            return false;
        }
        return true;
    }

  private:
    bool Fail(const std::string& what) {
        error_ = Line(line_) + what;
        return false;
    }
    bool AtEnd() const { return pos_ >= s_.size(); }
    char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }

    void SkipBlanks() {
        while (!AtEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
            if (s_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    bool Word(const char* word) {
        const size_t n = std::char_traits<char>::length(word);
        if (s_.compare(pos_, n, word) != 0) return Fail("unexpected text");
        pos_ += n;
        return true;
    }

    bool Value(Json* out, int depth) {
        if (depth > kMaxDepth) return Fail("nested too deeply");
        if (++values_ > kMaxValues) return Fail("more than " + std::to_string(kMaxValues) + " values");
        out->line = line_;
        switch (Peek()) {
            case '{':
                return Object(out, depth);
            case '[':
                return Array(out, depth);
            case '"':
                out->kind = Json::String;
                return String(&out->text);
            case 't':
                out->kind = Json::Bool;
                out->flag = true;
                return Word("true");
            case 'f':
                out->kind = Json::Bool;
                return Word("false");
            case 'n':
                out->kind = Json::Null;
                return Word("null");
            default:
                if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) {
                    out->kind = Json::Number;
                    return Number(&out->text);
                }
                return AtEnd() ? Fail("the text ends too early") : Fail("unexpected text");
        }
    }

    bool Object(Json* out, int depth) {
        out->kind = Json::Object;
        ++pos_;
        SkipBlanks();
        if (Peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipBlanks();
            if (Peek() != '"') return Fail("a key in quotes was expected");
            const int keyLine = line_;
            std::string key;
            if (!String(&key)) return false;
            for (const auto& m : out->members) {
                if (m.first == key) {
                    line_ = keyLine;
                    return Fail("\"" + key + "\" appears twice");
                }
            }
            SkipBlanks();
            if (Peek() != ':') return Fail("':' was expected");
            ++pos_;
            SkipBlanks();
            out->members.emplace_back(key, Json());
            if (!Value(&out->members.back().second, depth + 1)) return false;
            SkipBlanks();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            if (Peek() == '}') {
                ++pos_;
                return true;
            }
            return Fail("',' or '}' was expected");
        }
    }

    bool Array(Json* out, int depth) {
        out->kind = Json::Array;
        ++pos_;
        SkipBlanks();
        if (Peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipBlanks();
            out->items.emplace_back();
            if (!Value(&out->items.back(), depth + 1)) return false;
            SkipBlanks();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            if (Peek() == ']') {
                ++pos_;
                return true;
            }
            return Fail("',' or ']' was expected");
        }
    }

    bool Hex4(uint32_t* value) {
        if (s_.size() - pos_ < 4) return Fail("a \\u escape needs four hex digits");
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s_[pos_ + static_cast<size_t>(k)];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return Fail("a \\u escape needs four hex digits");
            v = v * 16 + static_cast<uint32_t>(digit);
        }
        pos_ += 4;
        *value = v;
        return true;
    }

    // The input is known to be UTF-8, so bytes from 0x80 up are copied as they come.
    bool String(std::string* out) {
        ++pos_;
        for (;;) {
            if (AtEnd()) return Fail("a string is not closed");
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) {
                return Fail("a control character inside a string must be escaped");
            }
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (AtEnd()) return Fail("a string is not closed");
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    *out += e;
                    break;
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!Hex4(&cp)) return false;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return Fail("a \\u escape holds a lone low surrogate");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t low = 0;
                        if (s_.compare(pos_, 2, "\\u") != 0)
                            return Fail("a high surrogate without its low half");
                        pos_ += 2;
                        if (!Hex4(&low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF)
                            return Fail("a high surrogate without its low half");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    AppendUtf8(*out, cp);
                    break;
                }
                default:
                    return Fail(std::string("unknown escape \\") + e);
            }
        }
    }

    // JSON's number grammar exactly; the value is interpreted where it is used.
    bool Number(std::string* out) {
        const size_t start = pos_;
        auto digits = [this] {
            const size_t from = pos_;
            while (!AtEnd() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
            return pos_ - from;
        };
        if (Peek() == '-') ++pos_;
        if (Peek() == '0') {
            ++pos_;
        } else if (digits() == 0) {
            return Fail("a number was expected");
        }
        if (Peek() == '.') {
            ++pos_;
            if (digits() == 0) return Fail("digits must follow the decimal point");
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos_;
            if (Peek() == '+' || Peek() == '-') ++pos_;
            if (digits() == 0) return Fail("digits must follow the exponent");
        }
        *out = s_.substr(start, pos_ - start);
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
    int line_ = 1;
    int values_ = 0;
    std::string error_;
};

// A whole number of at most nine digits without sign, fraction or exponent; -1 otherwise.
int SmallCount(const std::string& digits) {
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::atoi(digits.c_str());
}

// ---- Rows from either form ----

// Collects the rows of a file: each must name its own parameter and element, once.
class RowCollector {
  public:
    bool Add(ConfigRow row, const std::string& rowText, int line, std::string* error) {
        const int number = SmallCount(rowText);
        if (number < 0 || number >= configurator::PARAM_ROW_COUNT) {
            *error = Line(line) + "row " + rowText + " is outside 0.." +
                     std::to_string(configurator::PARAM_ROW_COUNT - 1);
            return false;
        }
        row.row = number;
        std::string param, index;
        RowNames(number, &param, &index);
        // The table shows the parameter with two leading blanks; either spelling names it.
        if (Trim(row.param) != param || row.index != index) {
            *error = Line(line) + "row " + rowText + " is " + param + ":" + index + ", not " + row.param +
                     ":" + row.index;
            return false;
        }
        row.param = param;
        if (lineOf_[number] != 0) {
            *error = Line(line) + "row " + rowText + " appears twice (first on line " +
                     std::to_string(lineOf_[number]) + ")";
            return false;
        }
        lineOf_[number] = line;
        rows_.push_back(std::move(row));
        return true;
    }

    std::vector<ConfigRow> Take() {
        std::sort(rows_.begin(), rows_.end(),
                  [](const ConfigRow& a, const ConfigRow& b) { return a.row < b.row; });
        return std::move(rows_);
    }

  private:
    int lineOf_[configurator::PARAM_ROW_COUNT] = {};
    std::vector<ConfigRow> rows_;
};

bool VersionUsable(int format, int line, std::string* error) {
    if (format > CONFIG_FORMAT) {
        *error = "format " + std::to_string(format) + " is newer than this krt42 understands (" +
                 std::to_string(CONFIG_FORMAT) + ")";
        return false;
    }
    if (format < 1) {
        *error = Line(line) + "format " + std::to_string(format) + " is unknown";
        return false;
    }
    return true;
}

bool FormatNumber(const Json& format, int* version, std::string* error) {
    const std::string& text = format.text;
    const bool digits =
        format.kind == Json::Number && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits && text.size() > 9) {
        *error = "format " + text + " is newer than this krt42 understands (" +
                 std::to_string(CONFIG_FORMAT) + ")";
        return false;
    }
    if (!digits) {
        *error = Line(format.line) + "\"format\" must be a whole number";
        return false;
    }
    *version = SmallCount(text);
    return VersionUsable(*version, format.line, error);
}

bool JsonRow(const Json& item, RowCollector& rows, std::string* error) {
    const std::string at = Line(item.line);
    if (item.kind != Json::Object) {
        *error = at + "a row must be an object";
        return false;
    }
    for (const auto& m : item.members) {
        if (std::find(std::begin(kRowFields), std::end(kRowFields), m.first) == std::end(kRowFields)) {
            *error = Line(m.second.line) + "unknown field \"" + m.first + "\" in a row";
            return false;
        }
    }
    for (const char* field : kRowFields) {
        if (item.Member(field) == nullptr) {
            *error = at + "the row lacks \"" + field + "\"";
            return false;
        }
    }
    const Json& number = *item.Member("row");
    if (number.kind != Json::Number) {
        *error = Line(number.line) + "\"row\" must be a number";
        return false;
    }
    ConfigRow row{};
    std::string* texts[] = {&row.param, &row.index, &row.value, &row.unit, &row.name};
    for (int k = 1; k <= 5; ++k) {
        const Json& field = *item.Member(kRowFields[k]);
        if (field.kind != Json::String) {
            *error = Line(field.line) + "row " + number.text + ": \"" + kRowFields[k] + "\" must be a string";
            return false;
        }
        *texts[k - 1] = field.text;
    }
    const Json& answered = *item.Member("answered");
    if (answered.kind != Json::Bool) {
        *error = Line(answered.line) + "row " + number.text + ": \"answered\" must be true or false";
        return false;
    }
    row.answered = answered.flag;
    return rows.Add(std::move(row), number.text, number.line, error);
}

bool FromJson(const std::string& text, Configuration* out, std::string* error) {
    Json root;
    if (!JsonReader(text).Document(&root, error)) return false;
    Configuration config;
    const Json* rows = &root;
    if (root.kind == Json::Object) {
        // The version first: a newer file is refused as newer, whatever else it holds.
        const Json* format = root.Member("format");
        if (format == nullptr) {
            *error = Line(root.line) + "the file lacks \"format\"";
            return false;
        }
        if (!FormatNumber(*format, &config.formatVersion, error)) return false;
        for (const auto& m : root.members) {
            const std::string& key = m.first;
            const Json& v = m.second;
            if (key == "tool" || key == "port" || key == "time") {
                if (v.kind != Json::String) {
                    *error = Line(v.line) + "\"" + key + "\" must be a string";
                    return false;
                }
                (key == "tool" ? config.tool : key == "port" ? config.port : config.time) = v.text;
            } else if (key == "speed") {
                config.speed = v.kind == Json::Number ? SmallCount(v.text) : -1;
                if (config.speed < 0) {
                    *error = Line(v.line) + "\"speed\" must be a whole number of bit/s";
                    return false;
                }
            } else if (key != "format" && key != "rows") {
                *error = Line(v.line) + "unknown field \"" + key + "\"";
                return false;
            }
        }
        rows = root.Member("rows");
        if (rows == nullptr) {
            *error = Line(root.line) + "the file lacks \"rows\"";
            return false;
        }
    }
    // A bare array is what `read --format json` printed before the file had a head: rows only.
    if (rows->kind != Json::Array) {
        *error = Line(rows->line) + "\"rows\" must be a list of rows";
        return false;
    }
    RowCollector collector;
    for (const Json& item : rows->items) {
        if (!JsonRow(item, collector, error)) return false;
    }
    config.rows = collector.Take();
    *out = std::move(config);
    return true;
}

// ---- CSV ----

class CsvReader {
  public:
    explicit CsvReader(const std::string& text) : s_(text) {}

    bool AtEnd() const { return pos_ >= s_.size(); }
    int LineNumber() const { return line_; }

    // Skips empty lines; false at the end of the text.
    bool SkipEmptyLines() {
        while (LineEnd()) SkipLineEnd();
        return !AtEnd();
    }

    // A line that starts with '#', without its end; false (and nothing taken) for any other.
    bool CommentLine(std::string* line) {
        if (AtEnd() || s_[pos_] != '#') return false;
        line->clear();
        while (!AtEnd() && !LineEnd()) *line += s_[pos_++];
        SkipLineEnd();
        return true;
    }

    // One record: fields split at commas; a field that starts with a quote may hold commas, line
    // ends and doubled quotes. Ends behind the record's line end.
    bool Record(std::vector<std::string>* fields, std::string* error) {
        fields->clear();
        for (;;) {
            if (fields->size() == kRowFieldCount) {
                *error = Line(line_) + "more than " + std::to_string(kRowFieldCount) + " fields";
                return false;
            }
            fields->emplace_back();
            std::string& field = fields->back();
            if (Peek() == '"') {
                if (!Quoted(&field, error)) return false;
                if (!AtEnd() && s_[pos_] != ',' && !LineEnd()) {
                    *error = Line(line_) + "text after a closing quote";
                    return false;
                }
            } else {
                while (!AtEnd() && s_[pos_] != ',' && !LineEnd()) {
                    if (s_[pos_] == '"') {
                        *error = Line(line_) + "a quote inside a field that does not start with one";
                        return false;
                    }
                    field += s_[pos_++];
                }
            }
            if (Peek() != ',') break;
            ++pos_;
        }
        SkipLineEnd();
        return true;
    }

  private:
    char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
    // LF, CR LF, or a CR that ends the text.
    bool LineEnd() const {
        if (AtEnd()) return false;
        if (s_[pos_] == '\n') return true;
        return s_[pos_] == '\r' && (pos_ + 1 == s_.size() || s_[pos_ + 1] == '\n');
    }
    void SkipLineEnd() {
        if (!LineEnd()) return;
        pos_ += s_[pos_] == '\n' || pos_ + 1 == s_.size() ? 1 : 2;
        ++line_;
    }

    bool Quoted(std::string* field, std::string* error) {
        const int opened = line_;
        ++pos_;
        for (;;) {
            if (AtEnd()) {
                *error = Line(opened) + "a quoted field is not closed";
                return false;
            }
            const char c = s_[pos_++];
            if (c == '"') {
                if (Peek() != '"') return true;
                ++pos_;
            } else if (c == '\n') {
                ++line_;
            }
            *field += c;
        }
    }

    const std::string& s_;
    size_t pos_ = 0;
    int line_ = 1;
};

// "# key: value" lines before the header: a spreadsheet shows them as text, this reader takes the
// format from them, so a later layout of the CSV can announce itself.
bool CsvComment(const std::string& line, int number, Configuration* config, std::string* error) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return true;
    const std::string key = Trim(line.substr(1, colon - 1));
    const std::string value = Trim(line.substr(colon + 1));
    if (key == "format") {
        const int version = SmallCount(value);
        if (version < 0) {
            *error = Line(number) + "the format must be a whole number";
            return false;
        }
        if (!VersionUsable(version, number, error)) return false;
        config->formatVersion = version;
    } else if (key == "tool") {
        config->tool = value;
    } else if (key == "port") {
        config->port = value;
    } else if (key == "time") {
        config->time = value;
    } else if (key == "speed") {
        config->speed = std::max(SmallCount(value), 0);
    }
    return true;
}

bool FromCsv(const std::string& text, Configuration* out, std::string* error) {
    Configuration config;
    CsvReader reader(text);
    std::string comment;
    for (;;) {
        if (!reader.SkipEmptyLines()) {
            *error = Line(reader.LineNumber()) + "the header " + kCsvHeader + " is missing";
            return false;
        }
        const int number = reader.LineNumber();
        if (!reader.CommentLine(&comment)) break;
        if (!CsvComment(comment, number, &config, error)) return false;
    }
    std::vector<std::string> fields;
    const int headerLine = reader.LineNumber();
    if (!reader.Record(&fields, error)) return false;
    if (!std::equal(fields.begin(), fields.end(), std::begin(kRowFields), std::end(kRowFields))) {
        *error = Line(headerLine) + "the header must be " + kCsvHeader;
        return false;
    }
    RowCollector collector;
    while (reader.SkipEmptyLines()) {
        const int line = reader.LineNumber();
        if (!reader.Record(&fields, error)) return false;
        if (fields.size() != kRowFieldCount) {
            *error =
                Line(line) + std::to_string(fields.size()) + " fields, not " + std::to_string(kRowFieldCount);
            return false;
        }
        if (fields[6] != "yes" && fields[6] != "no") {
            *error = Line(line) + "row " + fields[0] + ": answered must be yes or no";
            return false;
        }
        ConfigRow row{0, fields[1], fields[2], fields[3], fields[4], fields[5], fields[6] == "yes"};
        if (!collector.Add(std::move(row), fields[0], line, error)) return false;
    }
    config.rows = collector.Take();
    *out = std::move(config);
    return true;
}

// ---- Writing ----

// The longest frame the core sends; room for its terminating zero comes on top.
int WriteRequestLength(int row, const std::string& ansi) {
    const adapter::ParamRows& rows = *adapter::RowsOfRow(row);
    std::string param, index;
    RowNames(row, &param, &index);
    std::vector<uint8_t> request(adapter::SEND_FRAME_MAX + 1);
    return adapter::BuildWriteRequest(rows, index.c_str(), ansi.c_str(), request.data(),
                                      static_cast<int>(request.size()));
}

}  // namespace

std::string ToolText() {
    return std::string("krt42 ") + KRT_VERSION_TEXT;
}

std::string UtcTimeText(int64_t seconds) {
    // Days to a civil date in the proleptic Gregorian calendar, without the C library's time zone.
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return text;
}

ConfigRow TableRow(int row, const std::string& ansiValue, const std::string& ansiUnit, bool answered) {
    ConfigRow r{row, "", "", Utf8FromAnsi(ansiValue), Utf8FromAnsi(ansiUnit), "", answered};
    RowNames(row, &r.param, &r.index);
    r.name = Utf8FromAnsi(configurator::StartCellText(row, adapter::COL_NAME));
    return r;
}

std::string ConfigJson(const Configuration& config) {
    std::string out = "{\n";
    out += "  \"format\": " + std::to_string(CONFIG_FORMAT) + ",\n";
    out += "  \"tool\": " + JsonString(config.tool) + ",\n";
    out += "  \"port\": " + JsonString(config.port) + ",\n";
    out += "  \"speed\": " + std::to_string(config.speed) + ",\n";
    out += "  \"time\": " + JsonString(config.time) + ",\n";
    out += "  \"rows\": [";
    for (size_t k = 0; k < config.rows.size(); ++k) {
        const ConfigRow& r = config.rows[k];
        out += k == 0 ? "\n" : ",\n";
        out += "    {\"row\": " + std::to_string(r.row) + ", \"param\": " + JsonString(r.param) +
               ", \"index\": " + JsonString(r.index) + ", \"value\": " + JsonString(r.value) +
               ", \"unit\": " + JsonString(r.unit) + ", \"name\": " + JsonString(r.name) +
               ", \"answered\": " + (r.answered ? "true" : "false") + "}";
    }
    out += config.rows.empty() ? "]\n" : "\n  ]\n";
    return out + "}\n";
}

std::string ConfigCsv(const Configuration& config) {
    std::string out = std::string(kCsvHeader) + "\n";
    for (const ConfigRow& r : config.rows) {
        const std::string cells[kRowFieldCount] = {
            std::to_string(r.row), r.param, r.index, r.value, r.unit, r.name, r.answered ? "yes" : "no"};
        for (int k = 0; k < kRowFieldCount; ++k) out += (k ? "," : "") + CsvField(cells[k]);
        out += "\n";
    }
    return out;
}

bool ParseConfiguration(const std::string& bytes, Configuration* out, std::string* error) {
    if (bytes.size() > CONFIG_MAX_BYTES) {
        *error = "the file is larger than " + std::to_string(CONFIG_MAX_BYTES >> 20) + " MiB";
        return false;
    }
    if (const int line = FirstBrokenLine(bytes)) {
        *error = Line(line) + "the text is not UTF-8";
        return false;
    }
    // A spreadsheet may put a byte order mark in front of what it saves.
    const std::string text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && (text[first] == '{' || text[first] == '[')) {
        return FromJson(text, out, error);
    }
    return FromCsv(text, out, error);
}

bool UsableValue(const std::string& utf8, std::string* ansi, std::string* error, int row) {
    std::string bytes;
    size_t character = 0;
    uint32_t cp = 0;
    switch (AnsiFromUtf8(utf8, &bytes, &character, &cp)) {
        case TextFault::NotUtf8:
            *error = "character " + std::to_string(character) + " is not UTF-8";
            return false;
        case TextFault::NotInCodePage:
            *error = "character " + std::to_string(character) + " (" + CodePointName(cp) +
                     ") has no Windows-1251 form";
            return false;
        case TextFault::None:
            break;
    }
    const int bad = adapter::FirstUnsendableByte(bytes.data(), bytes.size());
    if (bad >= 0) {
        *error = "character " + std::to_string(bad + 1) + " (" +
                 CodePointName(static_cast<unsigned char>(bytes[static_cast<size_t>(bad)])) +
                 ") is a control character, which a write request cannot carry";
        return false;
    }
    // Without a row, the tightest request: an element of an indexed parameter.
    const int tightest = configurator::PARAM_ROW_COUNT - 1;
    const int target = row >= 0 && row < configurator::PARAM_ROW_COUNT ? row : tightest;
    if (WriteRequestLength(target, bytes) < 0) {
        const int room = adapter::SEND_FRAME_MAX - WriteRequestLength(target, std::string());
        *error = "the value has " + std::to_string(bytes.size()) +
                 " characters; a write request holds at most " + std::to_string(room);
        return false;
    }
    *ansi = std::move(bytes);
    return true;
}

bool UsableRows(const Configuration& config, const std::vector<bool>* rowsWanted, std::string* error) {
    for (const ConfigRow& r : config.rows) {
        const bool wanted =
            rowsWanted == nullptr ||
            (r.row >= 0 && static_cast<size_t>(r.row) < rowsWanted->size() && (*rowsWanted)[r.row]);
        if (!r.answered || !wanted) continue;
        std::string ansi, why;
        if (!UsableValue(r.value, &ansi, &why, r.row)) {
            *error = "row " + std::to_string(r.row) + " (" + r.param + ":" + r.index + "): " + why;
            return false;
        }
    }
    return true;
}

std::vector<Difference> Differences(const Configuration& file, const Configuration& adapter,
                                    const std::vector<bool>* rowsWanted) {
    std::vector<Difference> out;
    for (const ConfigRow& r : file.rows) {
        if (!r.answered) continue;
        if (rowsWanted != nullptr && (r.row < 0 || static_cast<size_t>(r.row) >= rowsWanted->size() ||
                                      !(*rowsWanted)[static_cast<size_t>(r.row)])) {
            continue;
        }
        const ConfigRow* now = nullptr;
        for (const ConfigRow& a : adapter.rows) {
            if (a.row == r.row) now = &a;
        }
        if (now != nullptr && now->answered && now->value == r.value) continue;
        Difference d{r.row, r.param, r.index, r.value, now != nullptr ? now->value : std::string()};
        d.adapterAnswered = now != nullptr && now->answered;
        out.push_back(std::move(d));
    }
    std::sort(out.begin(), out.end(), [](const Difference& a, const Difference& b) { return a.row < b.row; });
    return out;
}

int RowOfName(const std::string& name) {
    const size_t colon = name.find(':');
    const std::string head = name.substr(0, colon);
    if (head.empty() || head.size() > 3 || head.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const adapter::ParamRows* rows =
        head.size() == 3 ? adapter::RowsOfParameter(std::atoi(head.c_str())) : nullptr;
    if (rows == nullptr) {
        // Plain row numbers; three digits that name no parameter are rows 100 to 103, but with a
        // leading zero they were meant as a parameter.
        if (colon != std::string::npos || (head.size() == 3 && head[0] == '0')) return -1;
        const int row = std::atoi(head.c_str());
        return row < configurator::PARAM_ROW_COUNT ? row : -1;
    }
    int element = 0;
    if (colon != std::string::npos) {
        const std::string index = name.substr(colon + 1);
        if (!rows->indexed || index.size() != 2 || index.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        element = std::atoi(index.c_str());
    }
    const int row = rows->firstRow + element;
    return row < configurator::PARAM_ROW_COUNT && adapter::RowsOfRow(row) == rows ? row : -1;
}

bool ParseRowList(const std::string& text, std::vector<bool>* wanted, std::string* error) {
    std::vector<bool> rows(configurator::PARAM_ROW_COUNT, false);
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item =
            Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        const size_t dash = item.find('-');
        const std::string lowText = Trim(item.substr(0, dash));
        const std::string highText = dash == std::string::npos ? lowText : Trim(item.substr(dash + 1));
        if (item.empty()) {
            *error = "an empty entry in the row list";
            return false;
        }
        const int low = RowOfName(lowText);
        const int high = RowOfName(highText);
        if (low < 0 || high < 0) {
            *error = "unknown row " + (low < 0 ? lowText : highText) + " (0..103 or PARAM[:INDEX])";
            return false;
        }
        if (high < low) {
            *error = "the range " + item + " runs backwards";
            return false;
        }
        for (int r = low; r <= high; ++r) rows[static_cast<size_t>(r)] = true;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    *wanted = std::move(rows);
    return true;
}

}  // namespace cli
