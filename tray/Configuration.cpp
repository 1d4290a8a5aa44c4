#include "tray/Configuration.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "adapter/LinkHost.h"
#include "adapter/LinkState.h"
#include "adapter/ParamTable.h"
#include "adapter/Requests.h"
#include "configurator/ParameterTable.h"
#include "tray/Text.h"

#include <nlohmann/json.hpp>

namespace tray {

namespace {

// Format 1's header; format 2 adds the adapter's bytes of each value as an eighth column.
const char kCsvHeader[] = "row,param,index,value,unit,name,answered";
const char kCsvHeader2[] = "row,param,index,value,unit,name,answered,bytes";
const char* const kRowFields[] = {"row", "param", "index", "value", "unit", "name", "answered"};
constexpr int kRowFieldCount = 7;
constexpr int kMaxCsvFields = 8;
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

// ---- JSON ----

// A value of the document with the line it stands on, for refusals that say where.
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

// Walks the text for the JSON parser and keeps count of what it has taken: every event of the
// parser comes right after the token it stands for, so the count gives that token's line.
class CountingIterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* at, size_t* taken) : at_(at), taken_(taken) {}
    reference operator*() const { return *at_; }
    CountingIterator& operator++() {
        ++at_;
        ++*taken_;
        return *this;
    }
    bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
    bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

  private:
    const char* at_;
    size_t* taken_;
};

// Builds the tree of Json values from the parser's events, with the rules of a configuration on
// top of JSON's: no key twice in an object, a bounded depth and a bounded number of values.
class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
  public:
    TreeBuilder(const std::string& text, const size_t* taken) : text_(text), taken_(taken) {}

    Json root;
    std::string error;

    bool null() override { return Scalar(Json::Null); }
    bool boolean(bool value) override {
        Json* v = Place(Json::Bool);
        if (v != nullptr) v->flag = value;
        return v != nullptr;
    }
    bool number_integer(number_integer_t value) override { return Number(std::to_string(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Number(std::to_string(value)); }
    bool number_float(number_float_t, const string_t& written) override { return Number(written); }
    bool string(string_t& value) override {
        Json* v = Place(Json::String);
        if (v != nullptr) v->text = value;
        return v != nullptr;
    }
    bool binary(binary_t&) override { return Fail("binary data is no configuration"); }
    bool start_object(std::size_t) override { return Open(Json::Object); }
    bool key(string_t& name) override {
        Json& object = *open_.back();
        for (const auto& m : object.members) {
            if (m.first == name) return Fail("\"" + name + "\" appears twice");
        }
        object.members.emplace_back(name, Json());
        keyed_ = true;
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(Json::Array); }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& e) override {
        // The library's text names the place as "... at line L, column C: what"; ours names the
        // line alone, as every other refusal does.
        // What the parser last read may hold anything, line ends included: it is left out.
        std::string what = e.what();
        const size_t colon = what.find(": ", what.find("column"));
        if (colon != std::string::npos) what = what.substr(colon + 2);
        const size_t dash = what.find(" - ");
        if (what.compare(0, 20, "syntax error while p") == 0 && dash != std::string::npos)
            what = what.substr(dash + 3);
        const size_t lastRead = what.find("; last read: ");
        if (lastRead != std::string::npos) {
            const size_t expected = what.find("; expected", lastRead);
            what = what.substr(0, lastRead) + (expected == std::string::npos ? "" : what.substr(expected));
        }
        error = Line(LineAt(position == 0 ? 0 : position - 1)) + what;
        return false;
    }

  private:
    bool Fail(const std::string& what) {
        if (error.empty()) error = Line(CurrentLine()) + what;
        return false;
    }

    // The line of the token just taken: the last character before the count that is not blank
    // (a number is known only once the character after it has been looked at).
    int CurrentLine() const {
        size_t at = *taken_ == 0 ? 0 : *taken_ - 1;
        while (at > 0 && at < text_.size() &&
               (text_[at] == ' ' || text_[at] == '\t' || text_[at] == '\n' || text_[at] == '\r')) {
            --at;
        }
        return LineAt(at);
    }
    int LineAt(size_t at) const {
        if (at > text_.size()) at = text_.size();
        return 1 + static_cast<int>(
                       std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    }

    // Where the next value goes: the root, the end of the open array, or the member just keyed.
    Json* Place(Json::Kind kind) {
        if (++values_ > kMaxValues) {
            Fail("more than " + std::to_string(kMaxValues) + " values");
            return nullptr;
        }
        Json* v = &root;
        if (!open_.empty()) {
            Json& parent = *open_.back();
            if (parent.kind == Json::Array) {
                parent.items.emplace_back();
                v = &parent.items.back();
            } else {
                v = &parent.members.back().second;
                keyed_ = false;
            }
        }
        v->kind = kind;
        v->line = CurrentLine();
        return v;
    }
    bool Scalar(Json::Kind kind) { return Place(kind) != nullptr; }
    bool Number(const std::string& written) {
        Json* v = Place(Json::Number);
        if (v != nullptr) v->text = written;
        return v != nullptr;
    }
    bool Open(Json::Kind kind) {
        if (static_cast<int>(open_.size()) >= kMaxDepth) return Fail("nested too deeply");
        Json* v = Place(kind);
        if (v == nullptr) return false;
        // The parent's lists grow no more while this one is open, so the pointer stays good.
        open_.push_back(v);
        return true;
    }
    bool Close() {
        open_.pop_back();
        return true;
    }

    const std::string& text_;
    const size_t* taken_;
    std::vector<Json*> open_;
    bool keyed_ = false;
    int values_ = 0;
};

bool ParseJson(const std::string& text, Json* root, std::string* error) {
    size_t taken = 0;
    TreeBuilder builder(text, &taken);
    const CountingIterator first(text.data(), &taken), last(text.data() + text.size(), &taken);
    if (!nlohmann::json::sax_parse(first, last, &builder)) {
        *error = builder.error.empty() ? Line(1) + "not a JSON document" : builder.error;
        return false;
    }
    *root = std::move(builder.root);
    return true;
}

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
        if (m.first != "bytes" &&
            std::find(std::begin(kRowFields), std::end(kRowFields), m.first) == std::end(kRowFields)) {
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
    if (const Json* bytes = item.Member("bytes")) {
        if (bytes->kind != Json::String || !BytesOfHex(bytes->text, &row.bytes)) {
            *error = Line(bytes->line) + "row " + number.text + ": \"bytes\" must be hex digits, two a byte";
            return false;
        }
        row.hasBytes = true;
    }
    return rows.Add(std::move(row), number.text, number.line, error);
}

bool FromJson(const std::string& text, Configuration* out, std::string* error) {
    Json root;
    if (!ParseJson(text, &root, error)) return false;
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
    if (root.kind == Json::Array) config.formatVersion = 1;
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

    // The most fields a record may have: the header's count once it is known.
    void SetMaxFields(int n) { maxFields_ = n; }

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
            if (fields->size() == static_cast<size_t>(maxFields_)) {
                *error = Line(line_) + "more than " + std::to_string(maxFields_) + " fields";
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
    int maxFields_ = kMaxCsvFields;
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
    const bool withBytes = fields.size() == kRowFieldCount + 1 && fields.back() == "bytes";
    if (!std::equal(fields.begin(), fields.end() - (withBytes ? 1 : 0), std::begin(kRowFields),
                    std::end(kRowFields))) {
        *error = Line(headerLine) + "the header must be " + kCsvHeader + " or " + kCsvHeader2;
        return false;
    }
    const int count = kRowFieldCount + (withBytes ? 1 : 0);
    reader.SetMaxFields(count);
    RowCollector collector;
    while (reader.SkipEmptyLines()) {
        const int line = reader.LineNumber();
        if (!reader.Record(&fields, error)) return false;
        if (fields.size() != static_cast<size_t>(count)) {
            *error = Line(line) + std::to_string(fields.size()) + " fields, not " + std::to_string(count);
            return false;
        }
        if (fields[6] != "yes" && fields[6] != "no") {
            *error = Line(line) + "row " + fields[0] + ": answered must be yes or no";
            return false;
        }
        ConfigRow row{0, fields[1], fields[2], fields[3], fields[4], fields[5], fields[6] == "yes"};
        // An empty bytes field is a row without them: a spreadsheet cannot tell "" from nothing.
        if (withBytes && !fields[7].empty()) {
            if (!BytesOfHex(fields[7], &row.bytes)) {
                *error = Line(line) + "row " + fields[0] + ": bytes must be hex digits, two a byte";
                return false;
            }
            row.hasBytes = true;
        }
        if (!collector.Add(std::move(row), fields[0], line, error)) return false;
    }
    config.rows = collector.Take();
    *out = std::move(config);
    return true;
}

std::string JsonText(const std::string& utf8) {
    // Texts that are no UTF-8 never reach here (a port's name is made printable first); should
    // one, it is written with U+FFFD rather than as JSON that no reader takes.
    return nlohmann::json(utf8).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool KeepsAdapterBytes(const ConfigRow& r) {
    return r.hasBytes && r.value == ShownText(r.bytes);
}

bool SameOnAdapter(const ConfigRow& file, const ConfigRow& adapter) {
    if (!adapter.answered) return false;
    if (!adapter.hasBytes) return file.value == adapter.value;
    std::string ansi, error;
    if (WriteBytes(file, &ansi, &error) && ansi == adapter.bytes) return true;
    // A file without the adapter's bytes (format 1) can only say what the configurator showed:
    // the same text is the same value as far as such a file knows.
    return !file.hasBytes && file.value == adapter.value;
}

}  // namespace

std::string ToolText() {
    return std::string("krt42 ") + KRT_VERSION_TEXT;
}

std::string UtcTimeText(int64_t seconds) {
    return UtcClockText(seconds * 1000, false);
}

ConfigRow TableRow(int row, const std::string& ansiValue, const std::string& ansiUnit, bool answered,
                   const std::string* adapterBytes) {
    ConfigRow r{row, "", "", Utf8FromAnsi(ansiValue), Utf8FromAnsi(ansiUnit), "", answered};
    RowNames(row, &r.param, &r.index);
    r.name = Utf8FromAnsi(configurator::StartCellText(row, adapter::COL_NAME));
    if (answered && adapterBytes != nullptr) {
        r.bytes = *adapterBytes;
        r.hasBytes = true;
    }
    return r;
}

std::string ConfigJson(const Configuration& config) {
    std::string out = "{\n";
    out += "  \"format\": " + std::to_string(CONFIG_FORMAT) + ",\n";
    out += "  \"tool\": " + JsonText(config.tool) + ",\n";
    out += "  \"port\": " + JsonText(config.port) + ",\n";
    out += "  \"speed\": " + std::to_string(config.speed) + ",\n";
    out += "  \"time\": " + JsonText(config.time) + ",\n";
    out += "  \"rows\": [";
    // One row a line: a file that a person reads or a diff compares.
    for (size_t k = 0; k < config.rows.size(); ++k) {
        const ConfigRow& r = config.rows[k];
        out += k == 0 ? "\n" : ",\n";
        out += "    {\"row\": " + std::to_string(r.row) + ", \"param\": " + JsonText(r.param) +
               ", \"index\": " + JsonText(r.index) + ", \"value\": " + JsonText(r.value);
        if (r.hasBytes) out += ", \"bytes\": " + JsonText(HexOfBytes(r.bytes));
        out += ", \"unit\": " + JsonText(r.unit) + ", \"name\": " + JsonText(r.name) +
               ", \"answered\": " + (r.answered ? "true" : "false") + "}";
    }
    out += config.rows.empty() ? "]\n" : "\n  ]\n";
    return out + "}\n";
}

std::string ConfigCsv(const Configuration& config) {
    std::string out = std::string(kCsvHeader2) + "\n";
    for (const ConfigRow& r : config.rows) {
        const std::string cells[kMaxCsvFields] = {std::to_string(r.row),
                                                  r.param,
                                                  r.index,
                                                  r.value,
                                                  r.unit,
                                                  r.name,
                                                  r.answered ? "yes" : "no",
                                                  r.hasBytes ? HexOfBytes(r.bytes) : std::string()};
        for (int k = 0; k < kMaxCsvFields; ++k) out += (k ? "," : "") + CsvField(cells[k]);
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

bool WriteBytes(const ConfigRow& r, std::string* ansi, std::string* error) {
    if (!KeepsAdapterBytes(r)) return UsableValue(r.value, ansi, error, r.row);
    const int bad = adapter::FirstUnsendableByte(r.bytes.data(), r.bytes.size());
    if (bad >= 0) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "byte %d (%02X) is a control byte, which a write request cannot carry", bad + 1,
                      static_cast<unsigned>(static_cast<unsigned char>(r.bytes[static_cast<size_t>(bad)])));
        *error = text;
        return false;
    }
    if (!RequestCarries(r.row, r.bytes)) {
        *error =
            "the value has " + std::to_string(r.bytes.size()) + " bytes, more than a write request holds";
        return false;
    }
    *ansi = r.bytes;
    return true;
}

bool UsableRows(const Configuration& config, const std::vector<bool>* rowsWanted, std::string* error) {
    for (const ConfigRow& r : config.rows) {
        const bool wanted =
            rowsWanted == nullptr ||
            (r.row >= 0 && static_cast<size_t>(r.row) < rowsWanted->size() && (*rowsWanted)[r.row]);
        if (!r.answered || !wanted) continue;
        std::string ansi, why;
        if (!WriteBytes(r, &ansi, &why)) {
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
        if (now != nullptr && SameOnAdapter(r, *now)) continue;
        Difference d{r.row, r.param, r.index, r.value, now != nullptr ? now->value : std::string()};
        d.adapterAnswered = now != nullptr && now->answered;
        std::string error;
        WriteBytes(r, &d.fileBytes, &error);
        if (now != nullptr) d.adapterBytes = now->bytes;
        out.push_back(std::move(d));
    }
    std::sort(out.begin(), out.end(), [](const Difference& a, const Difference& b) { return a.row < b.row; });
    return out;
}

}  // namespace tray
