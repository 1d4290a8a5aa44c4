// krt42: the configurator's and the loader's jobs from the command line.
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/Jobs.h"
#include "cli/Output.h"
#include "cli/Platform.h"

namespace cli {

namespace {

const char kUsage[] =
    "usage: krt42 COMMAND [OPTIONS]\n"
    "\n"
    "  ports                                   list the serial ports\n"
    "  find  --port P...                       find the KRT42 on P, trying 1200 .. 115200 bit/s\n"
    "  read  --port P... [--speed S] [--format table|csv|json] [-o FILE]\n"
    "                                          read the 104 parameters\n"
    "  write --port P [--speed S] [--] ROW VALUE\n"
    "                                          write one value; ROW is 0..103 or PARAM[:INDEX]\n"
    "                                          (003, 006, 099:01, 052:07)\n"
    "  diff  --port P... [--speed S] [--rows LIST] FILE\n"
    "                                          the rows whose value differs from the file\n"
    "  apply --port P... [--speed S] [--rows LIST] [--dry-run] FILE\n"
    "                                          write the rows that differ, then read back\n"
    "  load  --port P... [--speed S] [--max-restarts N] FILE\n"
    "                                          load a program file (1 to 32768 bytes)\n"
    "\n"
    "P is a port as `krt42 ports` lists it (Linux: a device such as /dev/ttyUSB0, or COMn;\n"
    "Windows: COMn). --port may be given several times, and --ports-from FILE reads one port\n"
    "a line: every port is served at once, lines are prefixed with the port, and -o then takes\n"
    "a name with {port} in it or a folder. Without --speed, read, write, diff and apply search\n"
    "for the adapter first; load uses 19200 bit/s. -o FILE writes a configuration file (JSON,\n"
    "or CSV for a name ending in .csv) that diff and apply take back. load stops after\n"
    "--max-restarts restarts asked for by the adapter (default 10). --trace FILE writes what\n"
    "goes over the line (- for standard error). -- ends the options.\n"
    "\n"
    "Exit codes: 0 done, 1 failed (load stopped, output not written; diff: they differ),\n"
    "2 usage (nothing was sent), 3 no adapter, 4 write refused, 5 no answer, 6 port cannot be\n"
    "opened, is busy or went away, 7 apply: the read-back disagrees, 128+N ended by signal N\n"
    "(130 Ctrl-C). With several ports, the highest code of them.\n"
    "  --help     this text\n"
    "  --version  the version\n";

int Run(const std::vector<std::string>& words) {
    Arguments a;
    const std::string error = ParseArguments(std::vector<std::string>(words.begin() + 1, words.end()), &a);
    if (a.help) {
        return DataOutput::Put(kUsage) ? EXIT_OK : EXIT_FAILED;
    }
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
    if (a.command == "ports") {
        if (!a.rest.empty() || !a.ports.empty()) {
            Say("ports takes nothing more");
            return EXIT_USAGE;
        }
        std::string list;
        for (const std::string& name : ListPorts()) list += name + "\n";
        return DataOutput::Put(list) ? EXIT_OK : EXIT_FAILED;
    }
    return RunCommand(a);
}

}  // namespace

}  // namespace cli

int main(int argc, char** argv) {
    bool stdoutOpen = true;
    cli::PrepareProcess(&stdoutOpen);
    cli::DataOutput::Init(stdoutOpen);
    int code = cli::Run(cli::CommandLine(argc, argv));
    const std::string failure = cli::DataOutput::Finish();
    if (!failure.empty()) {
        cli::Say("cannot write standard output: " + failure);
        if (code == cli::EXIT_OK) code = cli::EXIT_FAILED;
    }
    if (code >= cli::EXIT_INTERRUPTED) cli::Say("interrupted");
    cli::RestoreConsole();
    return code;
}
