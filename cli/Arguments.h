// krt42's command line: the command, its options and its words, checked before anything is
// opened.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct Arguments {
    std::string command;
    std::vector<std::string> ports;      // --port, in the order given, then those of --ports-from
    std::vector<std::string> portsFrom;  // --ports-from, each file in turn
    int speed = 0;                       // 0: not given
    std::string format;                  // table, csv or json; empty: table on the terminal, JSON in a file
    std::string output;                  // -o
    int maxRestarts = 10;
    bool dryRun = false;
    std::string rows;  // --rows
    bool rowsGiven = false;
    std::string trace;
    bool help = false, version = false;
    std::vector<std::string> rest;  // the command's own words (ROW VALUE, FILE)
};

// Parses the words after the program name; an empty text on success, else the usage error.
std::string ParseArguments(const std::vector<std::string>& words, Arguments* a);

// The ports of a --ports-from file: one a line. A byte order mark in front is skipped, # starts a
// comment anywhere on a line, blanks around a name are dropped and empty lines skipped.
std::vector<std::string> PortsOfList(const std::string& text);

// The part of a port's name that can stand in a file name: the last part of a path.
std::string PortFileName(const std::string& port);
// `pattern` with every {port} in it replaced by PortFileName(port), once, left to right: a port
// whose name holds {port} itself is put in as it is.
std::string ExpandPortPattern(const std::string& pattern, const std::string& port);

}  // namespace cli
