// krt42's options: one table of them (name, argument, help line, what it sets), from which the
// parser, each command's usage line and --help are made. A command names the options it takes; a
// given option that the command does not take is a usage error.
#pragma once

#include <string>
#include <vector>

namespace cli {

// What the options set, and the command's own words (ROW VALUE, FILE).
struct Arguments {
    std::string command;
    std::vector<std::string> ports;      // --port, in the order given
    std::vector<std::string> portsFrom;  // --ports-from, each file in turn
    int speed = 0;                       // 0: not given
    std::string format;                  // table, csv or json; empty: table on the terminal, JSON in a file
    std::string output;                  // -o
    int maxRestarts = 10;
    bool dryRun = false;
    std::string rows;  // --rows
    bool rowsGiven = false;
    std::string trace;
    std::string history;    // --history FILE: record the jobs there
    std::string state;      // --state DIR (history, serve)
    std::string kind;       // --kind (history)
    std::string since;      // --since (history)
    std::string listen;     // --listen ADDR:PORT (serve)
    std::string tokenFile;  // --token-file (serve)
    bool help = false, version = false;
    std::vector<std::string> given;  // the options given, by their table names
    std::vector<std::string> rest;   // the command's own words

    bool Given(const std::string& name) const;
};

struct Option {
    const char* name;   // "--port"; the one spelling that --help, the manual and completion use
    const char* alias;  // another spelling ("--output" for -o), or nullptr
    const char* arg;    // what follows it in the usage ("P"); nullptr for a flag
    const char* help;   // one line
    bool repeated;      // may be given more than once, every value kept
    // Takes the value into the arguments; "" when it fits, otherwise why not (a usage error).
    std::string (*take)(Arguments&, const std::string& value);
};

// Every option of krt42, in the order --help lists them.
const std::vector<Option>& Options();

// Parses the words after the program name; "" on success, else the usage error.
std::string ParseArguments(const std::vector<std::string>& words, Arguments* a);

// One use of an option in a command's usage line.
struct OptionUse {
    const char* name;
    bool required;
    bool once = false;  // an option that may be repeated elsewhere takes one value here
};

// The usage of a command as --help shows it: "read  --port P... [--speed S] ... FILE", its lines
// wrapped before `width` columns.
std::string UsageLine(const char* command, const std::vector<OptionUse>& options, const char* words,
                      size_t width = 78);

// The ports of a --ports-from file: one a line. A byte order mark in front is skipped, # starts a
// comment anywhere on a line, blanks around a name are dropped and empty lines skipped.
std::vector<std::string> PortsOfList(const std::string& text);
// `pattern` with every {port} in it replaced by PortFileName(port), once, left to right: a port
// whose name holds {port} itself is put in as it is.
std::string ExpandPortPattern(const std::string& pattern, const std::string& port);

}  // namespace cli
