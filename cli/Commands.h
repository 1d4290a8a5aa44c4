// krt42's commands: one file each under cli/commands/, with its usage and its options, and one
// table of them here. A new command is a new file and a line in the table (and its section of the
// manual page and its words in the bash completion).
#pragma once

#include <vector>

#include "cli/Options.h"

namespace cli {

struct Command {
    const char* name;
    const char* summary;             // one line for --help
    std::vector<OptionUse> options;  // the options it takes
    const char* words;               // what follows the options in the usage ("FILE"), or ""
    int (*run)(const Arguments& a);  // the exit code
};

extern const Command PORTS_COMMAND, FIND_COMMAND, READ_COMMAND, WRITE_COMMAND, DIFF_COMMAND, APPLY_COMMAND,
    LOAD_COMMAND, HISTORY_COMMAND, SERVE_COMMAND;

// Every command, in the order --help lists them.
const std::vector<const Command*>& Commands();

// The command's given options that it does not take: the first one's usage error, or "".
std::string UnknownOptionFor(const Command& command, const Arguments& a);

}  // namespace cli
