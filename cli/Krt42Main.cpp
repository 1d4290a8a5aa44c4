// krt42: the configurator's and the loader's jobs from the command line, and the station.
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "tray/Exit.h"
#include "tray/Platform.h"

namespace cli {

namespace {

using namespace tray;

const char kAbout[] =
    "P is a port as `krt42 ports` lists it (Linux: a device such as /dev/ttyUSB0, or COMn;\n"
    "Windows: COMn). --port may be given several times, and --ports-from FILE reads one port\n"
    "a line: every port is served at once, lines are prefixed with the port, and -o then takes\n"
    "a name with {port} in it or a folder. Without --speed, read, write, diff and apply search\n"
    "for the adapter first; load uses 19200 bit/s. -o FILE writes a configuration file (JSON,\n"
    "or CSV for a name ending in .csv) that diff and apply take back. load stops after\n"
    "--max-restarts restarts asked for by the adapter (default 10). --trace FILE writes what\n"
    "goes over the line (- for standard error). --history FILE records every port's job in a\n"
    "job history, which `krt42 history --history FILE` shows. -- ends the options.\n"
    "\n"
    "Exit codes: 0 done, 1 failed (load stopped, output not written; diff: they differ),\n"
    "2 usage (nothing was sent), 3 no adapter, 4 write refused, 5 no answer, 6 port cannot be\n"
    "opened, is busy or went away, 7 apply: the read-back disagrees, 128+N ended by signal N\n"
    "(130 Ctrl-C). With several ports, the highest code of them.\n";

std::string HelpText() {
    constexpr size_t kSummaryColumn = 42;
    constexpr size_t kUsageWidth = 76;
    std::string text = "usage: krt42 COMMAND [OPTIONS]\n\n";
    for (const Command* c : Commands()) {
        std::string usage = "  " + UsageLine(c->name, c->options, c->words, kUsageWidth);
        for (size_t at = 0; (at = usage.find('\n', at)) != std::string::npos; at += 3)
            usage.insert(at + 1, "  ");
        const size_t last =
            usage.size() - (usage.rfind('\n') == std::string::npos ? 0 : usage.rfind('\n') + 1);
        text += last + 2 <= kSummaryColumn ? usage + std::string(kSummaryColumn - last, ' ')
                                           : usage + "\n" + std::string(kSummaryColumn, ' ');
        text += c->summary + std::string("\n");
    }
    text += "\noptions:\n";
    constexpr size_t kHelpColumn = 28;
    for (const Option& o : Options()) {
        // The short spelling first, as manual pages write them: "-o, --output FILE", "-h, --help".
        const bool aliasShort = o.alias != nullptr && o.alias[1] != '-';
        const std::string spellings = o.alias == nullptr ? std::string(o.name)
                                      : aliasShort       ? std::string(o.alias) + ", " + o.name
                                                         : std::string(o.name) + ", " + o.alias;
        std::string name = "  " + spellings + (o.arg ? std::string(" ") + o.arg : std::string());
        text += name.size() + 2 <= kHelpColumn ? name + std::string(kHelpColumn - name.size(), ' ')
                                               : name + "\n" + std::string(kHelpColumn, ' ');
        text += o.help + std::string("\n");
    }
    return text + "\n" + kAbout;
}

int Run(const std::vector<std::string>& words) {
    Arguments a;
    const std::string error = ParseArguments(std::vector<std::string>(words.begin() + 1, words.end()), &a);
    if (a.help) return DataOutput::Put(HelpText()) ? EXIT_OK : EXIT_FAILED;
    if (a.version) {
        return DataOutput::Put(std::string("krt42 ") + KRT_VERSION_TEXT + "\n") ? EXIT_OK : EXIT_FAILED;
    }
    if (!error.empty()) {
        Say(error + " (see krt42 --help)");
        return EXIT_USAGE;
    }
    if (a.command.empty()) {
        Say("no command (see krt42 --help)");
        return EXIT_USAGE;
    }
    for (const Command* c : Commands()) {
        if (a.command != c->name) continue;
        const std::string wrong = UnknownOptionFor(*c, a);
        if (!wrong.empty()) {
            Say(wrong);
            return EXIT_USAGE;
        }
        return c->run(a);
    }
    Say("unknown command " + a.command + " (see krt42 --help)");
    return EXIT_USAGE;
}

}  // namespace

}  // namespace cli

int main(int argc, char** argv) {
    bool stdoutOpen = true;
    tray::PrepareProcess(&stdoutOpen);
    cli::DataOutput::Init(stdoutOpen);
    int code = cli::Run(tray::CommandLine(argc, argv));
    const std::string failure = cli::DataOutput::Finish();
    if (!failure.empty()) {
        cli::Say("cannot write standard output: " + failure);
        if (code == tray::EXIT_OK) code = tray::EXIT_FAILED;
    }
    if (code >= tray::EXIT_INTERRUPTED) cli::Say("interrupted");
    tray::RestoreConsole();
    return code;
}
