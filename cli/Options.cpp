#include "cli/Options.h"

#include <cstdlib>

#include "portselect/Selection.h"
#include "tray/History.h"
#include "tray/Text.h"

namespace cli {

namespace {

bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool ParseCount(const std::string& text, int* value) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::atoi(text.c_str());
    return true;
}

std::string TakePort(Arguments& a, const std::string& v) {
    if (v.empty()) return "--port needs a port";
    a.ports.push_back(v);
    return std::string();
}

std::string TakePortsFrom(Arguments& a, const std::string& v) {
    if (v.empty()) return "--ports-from needs a file";
    a.portsFrom.push_back(v);
    return std::string();
}

std::string TakeSpeed(Arguments& a, const std::string& v) {
    char* end = nullptr;
    const long speed = std::strtol(v.c_str(), &end, 10);
    bool known = false;
    for (int32_t s : portselect::SpeedTable) known = known || s == speed;
    if (v.empty() || *end != '\0' || !known) {
        return "bad speed " + v + " (300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)";
    }
    a.speed = static_cast<int>(speed);
    return std::string();
}

std::string TakeFormat(Arguments& a, const std::string& v) {
    if (v != "table" && v != "csv" && v != "json") return "bad format " + v;
    a.format = v;
    return std::string();
}

std::string TakeOutput(Arguments& a, const std::string& v) {
    if (v.empty()) return "-o needs a file";
    a.output = v;
    return std::string();
}

std::string TakeRows(Arguments& a, const std::string& v) {
    // An empty list (an unset $ROWS in a script) must not turn into "every row".
    if (Blank(v)) return "--rows needs a list of rows";
    a.rows = v;
    a.rowsGiven = true;
    return std::string();
}

std::string TakeDryRun(Arguments& a, const std::string&) {
    a.dryRun = true;
    return std::string();
}

std::string TakeMaxRestarts(Arguments& a, const std::string& v) {
    if (!ParseCount(v, &a.maxRestarts)) return "bad count " + v + " for --max-restarts";
    return std::string();
}

std::string TakeTrace(Arguments& a, const std::string& v) {
    if (v.empty()) return "--trace needs a file, or - for standard error";
    a.trace = v;
    return std::string();
}

std::string TakeHistory(Arguments& a, const std::string& v) {
    if (v.empty()) return "--history needs a file";
    a.history = v;
    return std::string();
}

std::string TakeState(Arguments& a, const std::string& v) {
    if (v.empty()) return "--state needs a folder";
    a.state = v;
    return std::string();
}

std::string TakeKind(Arguments& a, const std::string& v) {
    for (const char* kind : {"find", "read", "write", "diff", "apply", "load"}) {
        if (v == kind) {
            a.kind = v;
            return std::string();
        }
    }
    return "bad kind " + v + " (find, read, write, diff, apply, load)";
}

std::string TakeSince(Arguments& a, const std::string& v) {
    if (!tray::HistoryTimeValid(v))
        return "bad time " + v + " for --since (2026-12-07, 2026-12-07T14:30, ...)";
    a.since = v;
    return std::string();
}

std::string TakeListen(Arguments& a, const std::string& v) {
    if (v.empty()) return "--listen needs ADDRESS:PORT";
    a.listen = v;
    return std::string();
}

std::string TakeTokenFile(Arguments& a, const std::string& v) {
    if (v.empty()) return "--token-file needs a file";
    a.tokenFile = v;
    return std::string();
}

std::string TakeHelp(Arguments& a, const std::string&) {
    a.help = true;
    return std::string();
}

std::string TakeVersion(Arguments& a, const std::string&) {
    a.version = true;
    return std::string();
}

const std::vector<Option> kOptions = {
    {"--port", nullptr, "P", "a serial port as krt42 ports lists it; may be given several times", true,
     TakePort},
    {"--ports-from", nullptr, "FILE", "also the ports in FILE, one a line (# starts a comment)", true,
     TakePortsFrom},
    {"--speed", nullptr, "S", "the line speed in bit/s: no search (load: 19200 without it)", false,
     TakeSpeed},
    {"--format", nullptr, "table|csv|json", "the form of the rows (history: of the records)", false,
     TakeFormat},
    {"-o", "--output", "FILE", "write to FILE (JSON, or CSV for a .csv name; - standard output)", false,
     TakeOutput},
    {"--rows", nullptr, "LIST", "only these rows: 0-5,12,052:07", false, TakeRows},
    {"--dry-run", nullptr, nullptr, "print the plan and send no write", false, TakeDryRun},
    {"--max-restarts", nullptr, "N", "stop after N restarts asked for by the adapter (default 10)", false,
     TakeMaxRestarts},
    {"--trace", nullptr, "FILE", "write what goes over the line to FILE (- for standard error)", false,
     TakeTrace},
    {"--history", nullptr, "FILE", "record every port's job in the job history FILE", false, TakeHistory},
    {"--state", nullptr, "DIR", "the station's state folder (default ~/.local/state/krt42)", false,
     TakeState},
    {"--kind", nullptr, "KIND", "only jobs of this kind (find, read, write, diff, apply, load)", false,
     TakeKind},
    {"--since", nullptr, "TIME", "only jobs started at or after TIME, UTC (2026-12-07T14:00)", false,
     TakeSince},
    {"--listen", nullptr, "ADDR:PORT", "where the station listens (default 127.0.0.1:8042)", false,
     TakeListen},
    {"--token-file", nullptr, "FILE", "the station's token in FILE instead of STATE/token", false,
     TakeTokenFile},
    {"--help", "-h", nullptr, "this text", false, TakeHelp},
    {"--version", nullptr, nullptr, "the version", false, TakeVersion},
};

const Option* OptionNamed(const std::string& word) {
    for (const Option& o : kOptions) {
        if (word == o.name || (o.alias != nullptr && word == o.alias)) return &o;
    }
    return nullptr;
}

// A word that is an option's name rather than a value: "-5" and "-" are values.
bool LooksLikeOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

}  // namespace

bool Arguments::Given(const std::string& name) const {
    for (const std::string& g : given) {
        if (g == name) return true;
    }
    return false;
}

const std::vector<Option>& Options() {
    return kOptions;
}

std::string ParseArguments(const std::vector<std::string>& words, Arguments* a) {
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        if (optionsEnded || !LooksLikeOption(word)) {
            if (a->command.empty()) {
                a->command = word;
            } else {
                a->rest.push_back(word);
            }
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        const size_t equals = word.find('=');
        if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word = word.substr(0, equals);
            hasValue = true;
        }
        const Option* option = OptionNamed(word);
        if (option == nullptr || (option->arg == nullptr && hasValue)) return "unknown option " + words[i];
        if (option->arg != nullptr && !hasValue) {
            if (i + 1 >= words.size()) return word + " needs a value";
            value = words[++i];
        }
        // A second value of an option that holds one would silently win over the first.
        if (!option->repeated && option->arg != nullptr && a->Given(option->name))
            return word + " is given twice";
        const std::string error = option->take(*a, value);
        if (!error.empty()) return error;
        if (!a->Given(option->name)) a->given.push_back(option->name);
    }
    return std::string();
}

std::string UsageLine(const char* command, const std::vector<OptionUse>& options, const char* words,
                      size_t width) {
    std::string name = command;
    if (name.size() < 5) name += std::string(5 - name.size(), ' ');
    std::vector<std::string> parts;
    for (const OptionUse& use : options) {
        const Option* o = OptionNamed(use.name);
        std::string text = o->name;
        if (o->arg != nullptr)
            text += std::string(" ") + o->arg + (o->repeated && use.required && !use.once ? "..." : "");
        parts.push_back(use.required ? text : "[" + text + "]");
    }
    if (words != nullptr && *words != '\0') parts.push_back(words);
    if (parts.empty()) return command;
    // Continued lines start under the first option.
    std::string out = name, line = name;
    for (const std::string& part : parts) {
        if (line.size() + 1 + part.size() > width && line.size() > name.size()) {
            out += "\n" + std::string(name.size(), ' ');
            line = std::string(name.size(), ' ');
        }
        out += " " + part;
        line += " " + part;
    }
    return out;
}

std::vector<std::string> PortsOfList(const std::string& text) {
    std::vector<std::string> ports;
    // An editor or a spreadsheet may put a byte order mark in front of what it saves.
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        // No port name on the systems we run on holds a '#'.
        line = line.substr(0, line.find('#'));
        const size_t first = line.find_first_not_of(" \t\r\v\f");
        if (first != std::string::npos) {
            const size_t last = line.find_last_not_of(" \t\r\v\f");
            ports.push_back(line.substr(first, last - first + 1));
        }
        start = end + 1;
    }
    return ports;
}

std::string ExpandPortPattern(const std::string& pattern, const std::string& port) {
    static const std::string kField = "{port}";
    const std::string name = tray::PortFileName(port);
    std::string out;
    size_t from = 0;
    for (size_t at; (at = pattern.find(kField, from)) != std::string::npos; from = at + kField.size()) {
        out.append(pattern, from, at - from);
        out += name;
    }
    return out + pattern.substr(from);
}

}  // namespace cli
