#include "simulator/SimOptions.h"

#include <cstdlib>

namespace sim {

namespace {

// Where the help texts start in the usage; longer left parts put theirs on the next line.
constexpr std::size_t kHelpColumn = 32;

void UsageLine(std::string& out, const std::string& left, const char* help) {
    out += "  " + left;
    if (left.size() + 2 + 2 > kHelpColumn) {
        out += "\n" + std::string(kHelpColumn, ' ');
    } else {
        out += std::string(kHelpColumn - 2 - left.size(), ' ');
    }
    out += help;
    out += "\n";
}

std::string WithArgument(const std::string& word, const char* argument) {
    return *argument ? word + " " + argument : word;
}

}  // namespace

bool ParseCount(const std::string& s, long& out, std::string& why) {
    bool digits = !s.empty() && s.size() <= 9;
    for (char c : s) digits = digits && c >= '0' && c <= '9';
    if (!digits) {
        why = "not a count: " + s;
        return false;
    }
    out = std::strtol(s.c_str(), nullptr, 10);
    return true;
}

bool ParseOnOff(const std::string& s, bool& out, std::string& why) {
    if (s != "on" && s != "off") {
        why = "not on or off: " + s;
        return false;
    }
    out = s == "on";
    return true;
}

bool ParseElement(const std::string& s, std::pair<int, int>& out, std::string& why) {
    const std::size_t colon = s.find(':');
    const std::string param = s.substr(0, colon),
                      element = colon == std::string::npos ? "0" : s.substr(colon + 1);
    long p = 0, e = 0;
    if (param.size() != 3 || !ParseCount(param, p, why) || !ParseCount(element, e, why)) {
        why = "not PARAM[:INDEX]: " + s;
        return false;
    }
    out = {static_cast<int>(p), static_cast<int>(e)};
    return true;
}

const Switch* FindOption(const std::string& name) {
    if (name.compare(0, 2, "--") != 0) return nullptr;
    for (const Switch& s : SWITCHES)
        if (s.optionArg != nullptr && name.compare(2, std::string::npos, s.name) == 0) return &s;
    return nullptr;
}

const Switch* FindCommand(const std::string& name) {
    for (const Switch& s : SWITCHES)
        if (s.commandArg != nullptr && name == s.name) return &s;
    return nullptr;
}

bool ParseCommandLine(const std::vector<std::string>& args, Options& options, bool& help,
                      std::string& error) {
    help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        const Switch* s = FindOption(option);
        if (s == nullptr) {
            error = "bad argument: " + option;
            return false;
        }
        if (s->set == nullptr) {
            help = true;
            continue;
        }
        std::string value = "on", why;
        if (*s->optionArg) {
            if (i + 1 >= args.size()) {
                error = option + " needs " + s->optionArg;
                return false;
            }
            value = args[++i];
        }
        if (!s->set(options, value, why)) {
            error = "bad argument: " + option + ": " + why;
            return false;
        }
    }
    return true;
}

std::string UsageText() {
    std::string out =
        "usage: krt42sim --link PATH | --tty DEVICE [OPTION...]\n"
        "Plays the KRT42 adapter on a pseudo-terminal or a serial line. Prints READY and the line's\n"
        "path once it is open, then takes commands on standard input, one a line, each answered by\n"
        "one line OK ... or ERR ....\n"
        "\n"
        "Options:\n";
    for (const Switch& s : SWITCHES)
        if (s.optionArg != nullptr)
            UsageLine(out, WithArgument(std::string("--") + s.name, s.optionArg), s.help);
    out += "\nCommands:\n";
    for (const Switch& s : SWITCHES) {
        if (s.commandArg == nullptr) continue;
        const std::string as = std::string("as --") + s.name;
        UsageLine(out, WithArgument(s.name, s.commandArg), s.commandHelp ? s.commandHelp : as.c_str());
    }
    return out;
}

}  // namespace sim
