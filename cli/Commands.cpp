#include "cli/Commands.h"

namespace cli {

const std::vector<const Command*>& Commands() {
    static const std::vector<const Command*> commands = {
        &PORTS_COMMAND, &FIND_COMMAND, &READ_COMMAND,    &WRITE_COMMAND, &DIFF_COMMAND,
        &APPLY_COMMAND, &LOAD_COMMAND, &HISTORY_COMMAND, &SERVE_COMMAND,
    };
    return commands;
}

std::string UnknownOptionFor(const Command& command, const Arguments& a) {
    for (const std::string& given : a.given) {
        if (given == "--help" || given == "--version") continue;
        bool taken = false;
        for (const OptionUse& use : command.options) taken = taken || given == use.name;
        if (taken) continue;
        // Which commands take it, for the message: "--rows goes with diff and apply".
        std::vector<const char*> takers;
        for (const Command* c : Commands()) {
            for (const OptionUse& use : c->options) {
                if (given == use.name) takers.push_back(c->name);
            }
        }
        std::string list;
        for (size_t k = 0; k < takers.size(); ++k) {
            list += (k == 0 ? "" : k + 1 == takers.size() ? " and " : ", ") + std::string(takers[k]);
        }
        return takers.empty() ? given + " goes with no command" : given + " goes with " + list;
    }
    return std::string();
}

}  // namespace cli
