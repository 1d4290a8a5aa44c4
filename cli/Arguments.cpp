#include "cli/Arguments.h"

#include <cstdlib>

#include "portselect/Selection.h"

namespace cli {

namespace {

bool IsSpeed(long speed) {
    for (int32_t s : portselect::SpeedTable) {
        if (s == speed) return true;
    }
    return false;
}

bool ParseCount(const std::string& text, int* value) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::atoi(text.c_str());
    return true;
}

// A word that is an option's name rather than a value: "-5" and "-" are values.
bool LooksLikeOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

// An option of one value that is given twice: the second would silently win over the first.
bool SecondTime(std::vector<std::string>* seen, const std::string& name) {
    for (const std::string& s : *seen) {
        if (s == name) return true;
    }
    seen->push_back(name);
    return false;
}

bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

std::string ParseArguments(const std::vector<std::string>& words, Arguments* a) {
    bool optionsEnded = false;
    std::vector<std::string> seen;
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
        if (word == "--help" || word == "-h") {
            a->help = true;
            continue;
        }
        if (word == "--version") {
            a->version = true;
            continue;
        }
        if (word == "--dry-run") {
            a->dryRun = true;
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
        const bool takesValue = word == "--port" || word == "--ports-from" || word == "--speed" ||
                                word == "--format" || word == "-o" || word == "--output" ||
                                word == "--max-restarts" || word == "--rows" || word == "--trace";
        if (!takesValue) return "unknown option " + word;
        if (!hasValue) {
            if (i + 1 >= words.size()) return word + " needs a value";
            value = words[++i];
        }
        // --port and --ports-from add up; every other option holds one value.
        const std::string name = word == "--output" ? "-o" : word;
        if (word != "--port" && word != "--ports-from" && SecondTime(&seen, name)) {
            return word + " is given twice";
        }
        if (word == "--port") {
            if (value.empty()) return "--port needs a port";
            a->ports.push_back(value);
        } else if (word == "--ports-from") {
            if (value.empty()) return "--ports-from needs a file";
            a->portsFrom.push_back(value);
        } else if (word == "--speed") {
            char* end = nullptr;
            const long speed = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || !IsSpeed(speed)) {
                return "bad speed " + value +
                       " (300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)";
            }
            a->speed = static_cast<int>(speed);
        } else if (word == "--format") {
            if (value != "table" && value != "csv" && value != "json") return "bad format " + value;
            a->format = value;
        } else if (word == "--max-restarts") {
            if (!ParseCount(value, &a->maxRestarts)) return "bad count " + value + " for --max-restarts";
        } else if (word == "--rows") {
            // An empty list (an unset $ROWS in a script) must not turn into "every row".
            if (Blank(value)) return "--rows needs a list of rows";
            a->rows = value;
            a->rowsGiven = true;
        } else if (word == "--trace") {
            if (value.empty()) return "--trace needs a file, or - for standard error";
            a->trace = value;
        } else {
            if (value.empty()) return word + " needs a file";
            a->output = value;
        }
    }
    return std::string();
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

std::string PortFileName(const std::string& port) {
    const size_t slash = port.find_last_of("/\\");
    std::string name = slash == std::string::npos ? port : port.substr(slash + 1);
    for (char& c : name) {
        if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') c = '_';
    }
    return name;
}

std::string ExpandPortPattern(const std::string& pattern, const std::string& port) {
    static const std::string kField = "{port}";
    const std::string name = PortFileName(port);
    std::string out;
    size_t from = 0;
    for (size_t at; (at = pattern.find(kField, from)) != std::string::npos; from = at + kField.size()) {
        out.append(pattern, from, at - from);
        out += name;
    }
    return out + pattern.substr(from);
}

}  // namespace cli
