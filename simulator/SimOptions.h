// krt42sim's settings and the one table of its switches. The command line, the usage text and
// the control commands on stdin are all made from SWITCHES: a new switch is a field of Options
// and a row here, its effect in the engine, a test, and its entry in docs/man/krt42sim.1 (the
// test simulator_option_drift compares the manual page and the read-me with --help).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "simulator/SimFrames.h"

namespace sim {

enum class Mode { Configurator, Loader };

struct Options {
    // The line and the files, opened by the program around the engine.
    std::string link, tty, log, capture, trace;

    int speed = 9600;
    Mode mode = Mode::Configurator;
    bool silent = false;
    std::string refusal;                             // OEM text; empty = writes accepted
    bool refusalEmptyValue = false;                  // refusals as HT HT text FF instead of HT text FF
    std::vector<std::pair<int, int>> ignoredWrites;  // (parameter, element) whose writes get no answer
    bool badCrc = false;
    long split = 0;               // answer pieces of this many bytes; 0 = whole
    long delayMs = 0;             // from the end of a request to the first byte of its answer
    long shortArray = 0;          // array answers carry at most this many elements; 0 = all asked for
    bool repeatPrevious = false;  // each answer behind a copy of the one before, in one write
    long lateWriteReplyMs = 0;    // a write's reply this long after its request, whatever delayMs says
    bool forgetWrites = false;    // writes acknowledged as accepted, not stored
    bool stallAtWrite = false;    // the first write request stalls the line with XOFF, unanswered
    std::vector<long> rAfter;     // loader: send 'R' once the received total reaches each of these
    bool ixon = false;            // stall the line with XOFF around each 'R'
    long rEvery = 0;              // loader: 'R' again whenever this many bytes came since the last
    long unplugAfter = 0;         // unplug for good once this many (more) bytes came in; 0 = never
    bool stalled = false;         // the line is not read (and, with ixon, held with XOFF)
};

struct Switch {
    const char* name;  // the option is --name; its stdin command, where it has one, is name
    // What follows the option in the usage; "" for a flag, nullptr when there is no option.
    const char* optionArg;
    // What follows the command in the usage; "" when it takes nothing, nullptr when there is no
    // command. A flag's command takes on|off.
    const char* commandArg;
    const char* help;
    // The command's own help line; nullptr: it does what the option does.
    const char* commandHelp;
    // Takes a value into the options, or says why it cannot (a flag's value is "on" from the
    // command line, "on" or "off" from stdin). nullptr: the program (--help) or the engine (the
    // commands that act rather than set) handles the switch itself.
    bool (*set)(Options&, const std::string& value, std::string& why);
};

// Digits only, at most nine of them.
bool ParseCount(const std::string& s, long& out, std::string& why);
bool ParseOnOff(const std::string& s, bool& out, std::string& why);
// "052:20" or "006": a parameter of three digits and an element.
bool ParseElement(const std::string& s, std::pair<int, int>& out, std::string& why);

// bit/s of a termios speed code, 0 when unknown; and back (0 when there is no code). Defined
// with the device.
int SpeedOfCode(unsigned code);
unsigned CodeOfSpeed(int bps);

template <bool Options::*Field>
bool SetFlag(Options& o, const std::string& v, std::string& why) {
    return ParseOnOff(v, o.*Field, why);
}

template <long Options::*Field>
bool SetCount(Options& o, const std::string& v, std::string& why) {
    return ParseCount(v, o.*Field, why);
}

template <std::string Options::*Field>
bool SetText(Options& o, const std::string& v, std::string&) {
    o.*Field = v;
    return true;
}

// In the order of the usage text.
inline const Switch SWITCHES[] = {
    {"link", "PATH", nullptr, "make a new pty and point the symlink PATH at its slave", nullptr,
     SetText<&Options::link>},
    {"tty", "DEVICE", nullptr, "use a real serial device instead, set raw at --speed", nullptr,
     SetText<&Options::tty>},
    {"speed", "BPS", "BPS", "the adapter's line speed, default 9600; it ignores frames at others",
     "as the option; a real device is set to it",
     [](Options& o, const std::string& v, std::string& why) {
         long n = 0;
         if (!ParseCount(v, n, why)) return false;
         if (CodeOfSpeed(static_cast<int>(n)) == 0) {
             why = "no such line speed: " + v;
             return false;
         }
         o.speed = static_cast<int>(n);
         return true;
     }},
    {"mode", "configurator|loader", nullptr, "answer the configurator (default) or take the loader's load",
     nullptr,
     [](Options& o, const std::string& v, std::string& why) {
         if (v != "configurator" && v != "loader") {
             why = "not configurator or loader: " + v;
             return false;
         }
         o.mode = v == "loader" ? Mode::Loader : Mode::Configurator;
         return true;
     }},
    {"log", "FILE", nullptr, "append one line per event to FILE", nullptr, SetText<&Options::log>},
    {"trace", "FILE", nullptr, "the line trace, in krt42's format, to FILE (- for standard error)", nullptr,
     SetText<&Options::trace>},
    {"capture", "FILE", nullptr, "loader: write every byte received to FILE", nullptr,
     SetText<&Options::capture>},
    {"r-after", "N[,N...]", nullptr, "loader: send R once the received total reaches each count", nullptr,
     [](Options& o, const std::string& v, std::string& why) {
         std::size_t at = 0;
         while (at <= v.size()) {
             std::size_t comma = v.find(',', at);
             if (comma == std::string::npos) comma = v.size();
             long n = 0;
             if (!ParseCount(v.substr(at, comma - at), n, why) || n < 1) {
                 why = "not a list of counts above 0: " + v;
                 return false;
             }
             o.rAfter.push_back(n);
             at = comma + 1;
         }
         return true;
     }},
    {"r-every", "N", "N", "loader: R again whenever N bytes came since the last R (0: never)",
     "as the option, counted from the command on", SetCount<&Options::rEvery>},
    {"ixon", "", nullptr, "send each R inside an XOFF ... XON stall of 300 ms", nullptr,
     SetFlag<&Options::ixon>},
    {"silent", "", "on|off", "answer nothing", nullptr, SetFlag<&Options::silent>},
    {"refuse", "TEXT", "TEXT|off", "refuse every write with TEXT (UTF-8, sent in code page 866)",
     "refuse writes with TEXT, or accept them again",
     [](Options& o, const std::string& v, std::string& why) {
         if (v.empty()) {
             why = "no text";
             return false;
         }
         o.refusal = v == "off" ? "" : Utf8ToCp866(v);
         return true;
     }},
    {"refuse-layout", "plain|empty-value", "plain|empty-value",
     "a refusal's item as HT text FF (plain, the default) or HT HT text FF", nullptr,
     [](Options& o, const std::string& v, std::string& why) {
         if (v != "plain" && v != "empty-value") {
             why = "not plain or empty-value: " + v;
             return false;
         }
         o.refusalEmptyValue = v == "empty-value";
         return true;
     }},
    {"ignore-write", "PARAM[:INDEX]", nullptr,
     "no answer to writes that reach it (052:20, 006); may be repeated", nullptr,
     [](Options& o, const std::string& v, std::string& why) {
         std::pair<int, int> element;
         if (!ParseElement(v, element, why)) return false;
         o.ignoredWrites.push_back(element);
         return true;
     }},
    {"bad-crc", "", "on|off", "answer with a wrong checksum", nullptr, SetFlag<&Options::badCrc>},
    {"split", "N", "N", "send answers in pieces of N bytes, 15 ms apart (0: whole)", nullptr,
     SetCount<&Options::split>},
    {"delay", "MS", "MS", "wait MS milliseconds before each answer", nullptr, SetCount<&Options::delayMs>},
    {"short-array", "N", "N", "array answers carry at most N elements, as their head says (0: all)", nullptr,
     SetCount<&Options::shortArray>},
    {"repeat-previous", "", "on|off", "each answer behind a copy of the one before, in one write", nullptr,
     SetFlag<&Options::repeatPrevious>},
    {"late-write-reply", "MS", "MS", "a write's reply MS milliseconds after its request (0: as others)",
     nullptr, SetCount<&Options::lateWriteReplyMs>},
    {"forget-writes", "", "on|off", "acknowledge writes as accepted but do not store them", nullptr,
     SetFlag<&Options::forgetWrites>},
    {"stall-at-write", "", "on|off",
     "at the first write request, stall the line with XOFF and answer nothing", nullptr,
     SetFlag<&Options::stallAtWrite>},
    {"unplug-after", "N", "N", "unplug for good once N bytes have come in (0: never)",
     "unplug once N more bytes come in (0 disarms it)", SetCount<&Options::unplugAfter>},
    {"help", "", nullptr, "print this text and stop", nullptr, nullptr},
    // Commands alone: they act on the line rather than set anything.
    {"R", nullptr, "[plain|stalled]", nullptr, "send R, stalled as --ixon says, or plain or stalled as told",
     nullptr},
    {"stall", nullptr, "on|off", nullptr, "stop (resume) reading the line; with --ixon also XOFF (XON)",
     nullptr},
    {"send-hex", nullptr, "HEX", nullptr, "send these bytes as they are", nullptr},
    {"flood", nullptr, "BYTES [HEX]", nullptr,
     "BYTES of noise, with frame HEX behind every 64 kB and at the end", nullptr},
    {"unplug", nullptr, "", nullptr, "close the pty master: the program's port goes dead", nullptr},
    {"replug", nullptr, "", nullptr, "a new pty behind the same link (OK replugged PATH)", nullptr},
    {"stats", nullptr, "", nullptr, "counts of frames, answers, ignored and bad frames, bytes", nullptr},
    {"quit", nullptr, "", nullptr, "stop; the link is removed", nullptr},
};

// The switch of an option (--name) or a command (name), or nullptr.
const Switch* FindOption(const std::string& name);
const Switch* FindCommand(const std::string& name);

// The command line after the program's name. False with a reason when an argument is bad; help
// is set by --help.
bool ParseCommandLine(const std::vector<std::string>& args, Options& options, bool& help, std::string& error);

// The usage: synopsis, every option and every command, one line each.
std::string UsageText();

}  // namespace sim
