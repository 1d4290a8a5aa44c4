// The command line's words and tables: how the words become a command, the port lists, and the
// table a terminal gets for values that hold control bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Output.h"
#include "tray/Configuration.h"
#include "tray/Text.h"

namespace cli_test {

using cli::Arguments;
using cli::ParseArguments;

TEST(TableText, AlignsByCharactersAndKeepsControlBytesOffTheTerminal) {
    // The rows hold UTF-8, as the file does.
    std::vector<tray::ConfigRow> rows = {{0, "003", "00", "2", "", u8"Спец", true},
                                         {1, "006", "00", "a\x1b]0;x\x07", u8"мс", "b", false}};
    const std::string text = cli::TableText(rows);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
    EXPECT_NE(text.find("a\\x1B]0;x\\x07"), std::string::npos);
    // The columns line up in characters: "Спец" is four wide, not eight.
    auto column = [](const std::string& line, const std::string& what) {
        size_t n = 0;
        for (size_t i = 0; i < line.find(what); ++i)
            n += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        return n;
    };
    const size_t second = text.find('\n') + 1, third = text.find('\n', second) + 1;
    const std::string row0 = text.substr(second, third - second), row1 = text.substr(third);
    EXPECT_EQ(column(row0, u8"Спец"), column(row1, "b "));
    EXPECT_EQ(column(row0, "yes"), column(row1, "no"));
    EXPECT_EQ(column(row0, u8"Спец"), column(text, "name"));
}

std::string Parse(std::vector<std::string> words, Arguments* a) {
    return ParseArguments(words, a);
}

TEST(Arguments, OptionsInEitherFormAndWordsAfterTheEndOfOptions) {
    Arguments a;
    EXPECT_EQ(Parse({"write", "--port", "/dev/ttyUSB0", "--speed=9600", "--", "100", "-5"}, &a), "");
    EXPECT_EQ(a.command, "write");
    EXPECT_EQ(a.ports, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_EQ(a.speed, 9600);
    EXPECT_EQ(a.rest, (std::vector<std::string>{"100", "-5"}));

    Arguments b;
    EXPECT_EQ(Parse({"load", "--port", "A", "--port=B", "--max-restarts", "0", "--trace", "-", "P.HEX"}, &b),
              "");
    EXPECT_EQ(b.ports, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(b.maxRestarts, 0);
    EXPECT_EQ(b.trace, "-");
    EXPECT_EQ(b.rest, std::vector<std::string>{"P.HEX"});

    Arguments c;  // a negative number is a value even without --
    EXPECT_EQ(Parse({"write", "--port", "A", "3", "-7"}, &c), "");
    EXPECT_EQ(c.rest, (std::vector<std::string>{"3", "-7"}));
    Arguments d;  // after --, an option's name is a word like any other
    EXPECT_EQ(Parse({"write", "--port", "A", "--", "3", "--speed"}, &d), "");
    EXPECT_EQ(d.rest, (std::vector<std::string>{"3", "--speed"}));
}

TEST(Arguments, RefusesWhatCannotWork) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"read", "--speed", "1234"}, "bad speed 1234"},
        {{"read", "--speed", "9600x"}, "bad speed 9600x"},
        {{"read", "--format", "xml"}, "bad format xml"},
        {{"load", "--max-restarts", "-1"}, "bad count -1"},
        {{"read", "--port"}, "--port needs a value"},
        {{"read", "--port="}, "--port needs a port"},
        {{"read", "--colour"}, "unknown option --colour"},
        {{"read", "-o", ""}, "-o needs a file"},
        // An empty list must not mean every row, and a second value must not silently win.
        {{"apply", "--rows", ""}, "--rows needs a list"},
        {{"apply", "--rows= \t"}, "--rows needs a list"},
        {{"read", "-o", "a", "--output=b"}, "--output is given twice"},
        {{"read", "--speed", "9600", "--speed", "19200"}, "--speed is given twice"},
        {{"find", "--ports-from", ""}, "--ports-from needs a file"},
    };
    for (const auto& c : cases) {
        Arguments a;
        const std::string error = Parse(c.first, &a);
        EXPECT_EQ(error.substr(0, c.second.size()), c.second) << error;
    }
}

TEST(Ports, ListFilesAndFileNames) {
    EXPECT_EQ(cli::PortsOfList("# tray 1\n/dev/ttyUSB0\n  /dev/ttyUSB1  \r\n\n#/dev/ttyUSB2\nCOM3"),
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "COM3"}));
    EXPECT_EQ(tray::PortFileName("/dev/serial/by-id/usb-X_Y-if00"), "usb-X_Y-if00");
    EXPECT_EQ(tray::PortFileName("COM3"), "COM3");
    EXPECT_EQ(tray::PortFileName("\\\\.\\COM12"), "COM12");
    // A byte order mark, comments after a name, blanks of any kind around it.
    EXPECT_EQ(cli::PortsOfList("\xEF\xBB\xBF/dev/ttyUSB0  # left\n\t/dev/ttyUSB1\t#right\r\n#\n  #\n"),
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1"}));

    // {port} is filled in once, left to right, whatever the name holds.
    EXPECT_EQ(cli::ExpandPortPattern("out/{port}-{port}.json", "/dev/x{port}y"),
              "out/x{port}y-x{port}y.json");
    EXPECT_EQ(cli::ExpandPortPattern("{port", "COM3"), "{port");

    Arguments a;  // --ports-from adds up
    EXPECT_EQ(Parse({"load", "--ports-from", "a", "--ports-from=b", "--port", "C"}, &a), "");
    EXPECT_EQ(a.portsFrom, (std::vector<std::string>{"a", "b"}));
}

}  // namespace cli_test
