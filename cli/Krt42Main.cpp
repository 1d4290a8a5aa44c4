// krt42: the configurator's and the loader's jobs from the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "adapter/Requests.h"
#include "cli/Jobs.h"
#include "cli/Platform.h"
#include "cli/Text.h"
#include "configurator/ParameterTable.h"
#include "loader/LoaderPort.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"

namespace cli {

namespace {

const char kUsage[] =
    "usage: krt42 COMMAND [OPTIONS]\n"
    "\n"
    "  ports                                   list the serial ports\n"
    "  find  --port P                          find the KRT42 on P, trying 1200 .. 115200 bit/s\n"
    "  read  --port P [--speed S] [--format table|csv|json] [-o FILE]\n"
    "                                          read the 104 parameters\n"
    "  write --port P [--speed S] ROW VALUE    write one value; ROW is 0..103 or PARAM[:INDEX]\n"
    "                                          (003, 006, 099:01, 052:07)\n"
    "  load  --port P [--speed S] FILE         load a program file (at most 32768 bytes)\n"
    "\n"
    "P is a port as `krt42 ports` lists it (Linux: a device such as /dev/ttyUSB0, or COMn;\n"
    "Windows: COMn). Without --speed, read and write search for the adapter first; load\n"
    "uses 19200 bit/s.\n"
    "\n"
    "Exit codes: 0 done, 1 failed, 2 usage, 3 no adapter, 4 write refused, 5 no answer,\n"
    "6 port cannot be opened or is busy, 130 interrupted.\n"
    "  --help     this text\n"
    "  --version  the version\n";

struct Arguments {
    std::string command;
    std::string port;
    int speed = 0;  // 0: not given
    std::string format = "table";
    std::string output;
    std::vector<std::string> rest;
};

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "krt42: %s\n", message.c_str());
    return code;
}

bool IsSpeed(long speed) {
    for (int32_t s : portselect::SpeedTable) {
        if (s == speed) return true;
    }
    return false;
}

// Parses the words after the program name; an empty text on success, else the usage error.
std::string Parse(int argc, char** argv, Arguments* a) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "--port" || word == "--speed" || word == "--format" || word == "-o") {
            if (!hasValue) return word + " needs a value";
            const std::string value = argv[++i];
            if (word == "--port") {
                a->port = value;
            } else if (word == "--speed") {
                char* end = nullptr;
                const long speed = std::strtol(value.c_str(), &end, 10);
                if (end == value.c_str() || *end != '\0' || !IsSpeed(speed)) {
                    return "bad speed " + value +
                           " (300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)";
                }
                a->speed = static_cast<int>(speed);
            } else if (word == "--format") {
                if (value != "table" && value != "csv" && value != "json") return "bad format " + value;
                a->format = value;
            } else {
                a->output = value;
            }
        } else if (word.size() > 1 && word[0] == '-' && word != "-" &&
                   !(word.size() > 1 && (word[1] >= '0' && word[1] <= '9'))) {
            return "unknown option " + word;
        } else if (a->command.empty()) {
            a->command = word;
        } else {
            a->rest.push_back(word);
        }
    }
    return std::string();
}

// ROW as 0..103 or as PARAM[:INDEX]; -1 for a row the table does not have.
int RowOf(const std::string& text) {
    const size_t colon = text.find(':');
    const std::string head = text.substr(0, colon);
    if (head.empty() || head.find_first_not_of("0123456789") != std::string::npos) return -1;
    if (colon == std::string::npos && head.size() < 3) {
        const int row = std::atoi(head.c_str());
        return row < configurator::PARAM_ROW_COUNT ? row : -1;
    }
    const adapter::ParamRows* rows = adapter::RowsOfParameter(std::atoi(head.c_str()));
    if (rows == nullptr || head.size() != 3) return -1;
    int element = 0;
    if (colon != std::string::npos) {
        const std::string index = text.substr(colon + 1);
        if (!rows->indexed || index.size() != 2 ||
            index.find_first_not_of("0123456789") != std::string::npos) {
            return -1;
        }
        element = std::atoi(index.c_str());
    }
    const int row = rows->firstRow + element;
    const adapter::ParamRows* owner = adapter::RowsOfRow(row);
    return row < configurator::PARAM_ROW_COUNT && owner == rows ? row : -1;
}

struct Port {
    std::unique_ptr<serial::SerialApi> api;
    unsigned number = 0;
};

int OpenApi(const Arguments& a, Port* port) {
    if (a.port.empty()) return Fail(EXIT_USAGE, "--port is missing");
    std::string error;
    port->api = SerialApiFor(a.port, &port->number, &error);
    if (!port->api) return Fail(EXIT_USAGE, error);
    return EXIT_OK;
}

// Finds the adapter, or opens the port at the given speed.
int Connect(LinkJob& job, const Arguments& a) {
    if (a.speed != 0) {
        return job.OpenAt(a.speed) == EXIT_OK ? EXIT_OK : Fail(EXIT_PORT, "cannot open " + a.port);
    }
    int speed = 0;
    const Exit found = job.Find(&speed);
    if (found == EXIT_PORT) return Fail(EXIT_PORT, "cannot open " + a.port + " (missing, or busy)");
    if (found == EXIT_NO_ADAPTER) return Fail(EXIT_NO_ADAPTER, "no adapter on " + a.port);
    return found;
}

std::string Rows(const LinkJob& job, const std::string& format) {
    std::string out;
    if (format == "csv") out = "row,param,index,value,unit,name,answered\n";
    if (format == "json") out = "[\n";
    std::vector<std::vector<std::string>> table;
    for (int row = 0; row < configurator::PARAM_ROW_COUNT; ++row) {
        const RowResult r = job.Row(row);
        const std::vector<std::string> cells = {
            std::to_string(row),  Trim(r.parameter),    Utf8FromAnsi(r.index),    Utf8FromAnsi(r.value),
            Utf8FromAnsi(r.unit), Utf8FromAnsi(r.name), r.answered ? "yes" : "no"};
        if (format == "csv") {
            for (size_t k = 0; k < cells.size(); ++k) out += (k ? "," : "") + CsvField(cells[k]);
            out += "\n";
        } else if (format == "json") {
            out += "  {\"row\": " + cells[0] + ", \"param\": " + JsonString(cells[1]) +
                   ", \"index\": " + JsonString(cells[2]) + ", \"value\": " + JsonString(cells[3]) +
                   ", \"unit\": " + JsonString(cells[4]) + ", \"name\": " + JsonString(cells[5]) +
                   ", \"answered\": " + (r.answered ? "true" : "false") + "}" +
                   (row + 1 < configurator::PARAM_ROW_COUNT ? ",\n" : "\n");
        } else {
            table.push_back(cells);
        }
    }
    if (format == "json") out += "]\n";
    if (format == "table") {
        table.insert(table.begin(), {"row", "param", "index", "value", "unit", "name", "answered"});
        // Columns as wide as their widest text, counted in characters, not UTF-8 bytes.
        auto width = [](const std::string& s) {
            size_t n = 0;
            for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            return n;
        };
        std::vector<size_t> widths(table[0].size(), 0);
        for (const auto& line : table) {
            for (size_t k = 0; k < line.size(); ++k) widths[k] = std::max(widths[k], width(line[k]));
        }
        for (const auto& line : table) {
            std::string text;
            for (size_t k = 0; k < line.size(); ++k) {
                text += line[k];
                if (k + 1 < line.size()) text += std::string(widths[k] - width(line[k]) + 2, ' ');
            }
            out += text + "\n";
        }
    }
    return out;
}

int Emit(const std::string& text, const std::string& path) {
    if (path.empty() || path == "-") {
        std::fputs(text.c_str(), stdout);
        return EXIT_OK;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return Fail(EXIT_USAGE, "cannot write " + path);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed ? EXIT_OK : Fail(EXIT_FAILED, "cannot write " + path);
}

int RunFind(const Arguments& a, const Port& port, serial::ComDriver& com) {
    auto job = std::make_unique<LinkJob>(com, port.number);
    int speed = 0;
    const Exit found = job->Find(&speed);
    if (found == EXIT_PORT) return Fail(EXIT_PORT, "cannot open " + a.port + " (missing, or busy)");
    if (found == EXIT_NO_ADAPTER) {
        std::printf("no adapter on %s\n", a.port.c_str());
        return EXIT_NO_ADAPTER;
    }
    if (found != EXIT_OK) return found;
    std::printf("%s: KRT42 at %d bit/s\n", a.port.c_str(), speed);
    return EXIT_OK;
}

int RunRead(const Arguments& a, const Port& port, serial::ComDriver& com) {
    auto job = std::make_unique<LinkJob>(com, port.number);
    if (const int connected = Connect(*job, a)) return connected;
    const Exit read = job->Read();
    if (read == EXIT_INTERRUPTED) return read;
    const int emitted = Emit(Rows(*job, a.format), a.output);
    if (emitted != EXIT_OK) return emitted;
    if (read == EXIT_NO_ANSWER) return Fail(EXIT_NO_ANSWER, "some requests got no answer (rows marked no)");
    return EXIT_OK;
}

int RunWrite(const Arguments& a, const Port& port, serial::ComDriver& com) {
    if (a.rest.size() != 2) return Fail(EXIT_USAGE, "write takes ROW and VALUE");
    const int row = RowOf(a.rest[0]);
    if (row < 0) return Fail(EXIT_USAGE, "unknown row " + a.rest[0]);
    std::string value;
    if (!AnsiFromUtf8(a.rest[1], &value))
        return Fail(EXIT_USAGE, "the value has characters the adapter cannot take");
    auto job = std::make_unique<LinkJob>(com, port.number);
    if (const int connected = Connect(*job, a)) return connected;
    std::string refusal;
    switch (job->Write(row, value, &refusal)) {
        case EXIT_OK:
            return EXIT_OK;
        case EXIT_USAGE:
            return Fail(EXIT_USAGE, "the value is too long to be sent");
        case EXIT_REFUSED:
            return Fail(EXIT_REFUSED, "refused: " + Utf8FromAnsi(refusal));
        case EXIT_NO_ANSWER:
            return Fail(EXIT_NO_ANSWER, "no reply to the write within 2 s");
        default:
            return EXIT_INTERRUPTED;
    }
}

int RunLoad(const Arguments& a, const Port& port, serial::ComDriver& com) {
    if (a.rest.size() != 1) return Fail(EXIT_USAGE, "load takes one FILE");
    auto job = std::make_unique<LoadJob>(com, port.number, stderr);
    const int speed = a.speed != 0 ? a.speed : loader::SpeedAt(loader::DEFAULT_SPEED_INDEX);
    if (job->Open(speed) != EXIT_OK) return Fail(EXIT_PORT, "cannot open " + a.port + " (missing, or busy)");
    std::string error;
    const Exit loaded = job->Load(a.rest[0], &error);
    if (loaded == EXIT_USAGE) return Fail(EXIT_USAGE, Utf8FromAnsi(error) + " " + a.rest[0]);
    return loaded;
}

int Run(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return EXIT_OK;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("krt42 %s\n", KRT_VERSION_TEXT);
            return EXIT_OK;
        }
    }
    const std::string error = Parse(argc, argv, &a);
    if (!error.empty()) return Fail(EXIT_USAGE, error + " (see krt42 --help)");
    if (a.command.empty()) return Fail(EXIT_USAGE, "no command (see krt42 --help)");
    if (a.command == "ports") {
        for (const std::string& name : ListPorts()) std::printf("%s\n", name.c_str());
        return EXIT_OK;
    }
    if (a.command != "find" && a.command != "read" && a.command != "write" && a.command != "load") {
        return Fail(EXIT_USAGE, "unknown command " + a.command + " (see krt42 --help)");
    }
    if ((a.command == "find" && !a.rest.empty()) || (a.command == "read" && !a.rest.empty())) {
        return Fail(EXIT_USAGE, "unexpected " + a.rest[0]);
    }
    Port port;
    if (const int opened = OpenApi(a, &port)) return opened;
    const bool loading = a.command == "load";
    serial::ComDriver com(loading ? serial::ComVariant::Loader : serial::ComVariant::Configurator, *port.api);
    int code = EXIT_OK;
    if (a.command == "find") code = RunFind(a, port, com);
    if (a.command == "read") code = RunRead(a, port, com);
    if (a.command == "write") code = RunWrite(a, port, com);
    if (loading) code = RunLoad(a, port, com);
    if (code == EXIT_INTERRUPTED) std::fprintf(stderr, "\nkrt42: interrupted\n");
    return code;
}

}  // namespace

}  // namespace cli

int main(int argc, char** argv) {
    cli::PrepareConsole();
    return cli::Run(argc, argv);
}
