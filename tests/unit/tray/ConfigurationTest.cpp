#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/ParamTable.h"
#include "configurator/ParameterTable.h"
#include "tray/Configuration.h"
#include "tray/Text.h"

namespace tray_test {

using tray::ConfigRow;
using tray::Configuration;

// Every row of the table, values as a read of a fresh adapter leaves them.
Configuration FullTable() {
    Configuration c;
    c.tool = tray::ToolText();
    c.port = "/dev/ttyUSB0";
    c.speed = 19200;
    c.time = tray::UtcTimeText(1796654795);
    for (int row = 0; row < configurator::PARAM_ROW_COUNT; ++row) {
        const std::string bytes = row == 5 ? "10" : "0";
        c.rows.push_back(tray::TableRow(row, bytes, row < 5 ? "" : "\xF8\xF2", row != 4, &bytes));
    }
    return c;
}

void ExpectSameRows(const std::vector<ConfigRow>& want, const std::vector<ConfigRow>& got) {
    ASSERT_EQ(want.size(), got.size());
    for (size_t k = 0; k < want.size(); ++k) {
        SCOPED_TRACE("row " + std::to_string(want[k].row));
        EXPECT_EQ(want[k].row, got[k].row);
        EXPECT_EQ(want[k].param, got[k].param);
        EXPECT_EQ(want[k].index, got[k].index);
        EXPECT_EQ(want[k].value, got[k].value);
        EXPECT_EQ(want[k].unit, got[k].unit);
        EXPECT_EQ(want[k].name, got[k].name);
        EXPECT_EQ(want[k].answered, got[k].answered);
        EXPECT_EQ(want[k].hasBytes, got[k].hasBytes);
        EXPECT_EQ(want[k].bytes, got[k].bytes);
    }
}

std::string Refusal(const std::string& text) {
    Configuration c;
    std::string error;
    EXPECT_FALSE(tray::ParseConfiguration(text, &c, &error)) << text;
    return error;
}

std::string JsonFile(const std::string& rows, const std::string& head = "\"format\": 1, ") {
    return "{" + head + "\"rows\": [\n" + rows + "\n]}\n";
}

const char kRow3[] =
    R"({"row": 3, "param": "099", "index": "01", "value": "7", "unit": "", "name": "n", "answered": true})";

TEST(ConfigFile, BothFormsGiveBackEveryRowAndTheJsonItsHead) {
    Configuration c = FullTable();
    // Values that the quoting of either form must carry through unchanged.
    const std::vector<std::string> hard = {"say \"hi\"",
                                           "a,b",
                                           "two\nlines",
                                           "cr\r\nlf",
                                           "back\\slash",
                                           u8"Привет, мир",
                                           " padded ",
                                           "",
                                           "\x01\x1f",
                                           "del\x7f",
                                           "\t",
                                           std::string("nul\0x", 5),
                                           u8"€ № ё",
                                           "#not a comment",
                                           "\"",
                                           "\\u0041",
                                           "\xF0\x9F\x98\x80"};
    for (size_t k = 0; k < hard.size(); ++k) {
        c.rows[k].value = hard[k];
        c.rows[k + 20].unit = hard[k];
    }
    c.port = "COM\"3\\";

    Configuration fromJson, fromCsv;
    std::string error;
    ASSERT_TRUE(tray::ParseConfiguration(tray::ConfigJson(c), &fromJson, &error)) << error;
    ExpectSameRows(c.rows, fromJson.rows);
    EXPECT_EQ(tray::CONFIG_FORMAT, fromJson.formatVersion);
    EXPECT_EQ(c.tool, fromJson.tool);
    EXPECT_EQ(c.port, fromJson.port);
    EXPECT_EQ(19200, fromJson.speed);
    EXPECT_EQ("2026-12-07T14:46:35Z", fromJson.time);

    ASSERT_TRUE(tray::ParseConfiguration(tray::ConfigCsv(c), &fromCsv, &error)) << error;
    ExpectSameRows(c.rows, fromCsv.rows);

    // Written again, both read back to the same bytes: nothing drifts over repeated copies.
    EXPECT_EQ(tray::ConfigJson(c), tray::ConfigJson(fromJson));
    EXPECT_EQ(tray::ConfigCsv(c), tray::ConfigCsv(fromCsv));
}

TEST(ConfigFile, WrittenLayoutKeepsTheTablesTextsAndOneRowALine) {
    const Configuration c = FullTable();
    const std::string json = tray::ConfigJson(c);
    EXPECT_EQ(0u, json.find("{\n  \"format\": 2,\n  \"tool\": \"krt42 "));
    EXPECT_NE(std::string::npos,
              json.find(u8"    {\"row\": 7, \"param\": \"052\", \"index\": \"02\", \"value\": \"0\", "
                        u8"\"bytes\": \"30\", \"unit\": \"шт\", "
                        u8"\"name\": \"Задание на запись параметра\", \"answered\": true},\n"));
    EXPECT_NE(std::string::npos, json.find("\"row\": 4, \"param\": \"099\", \"index\": \"02\""));
    const std::string csv = tray::ConfigCsv(c);
    EXPECT_EQ(0u, csv.find("row,param,index,value,unit,name,answered,bytes\n0,003,00,0,,"));
    EXPECT_NE(std::string::npos, csv.find(u8"\n103,052,98,0,шт,Задание на запись параметра,yes,30\n"));
    EXPECT_NE(std::string::npos, csv.find(u8"\n4,099,02,0,,Код платы,no,\n"));

    // The parameter and index texts that the reader demands are those the table shows.
    for (int row = 0; row < configurator::PARAM_ROW_COUNT; ++row) {
        EXPECT_EQ(tray::Trim(configurator::StartCellText(row, adapter::COL_PARAMETER)), c.rows[row].param);
        EXPECT_EQ(configurator::StartCellText(row, adapter::COL_INDEX), c.rows[row].index);
    }
}

TEST(ConfigFile, AcceptsHandMadeAndEarlierFiles) {
    Configuration c;
    std::string error;
    // A few rows in any order, blanks and CR LF line ends, the table's own spelling of the
    // parameter: read back in row order.
    const std::string json =
        "\xEF\xBB\xBF  {\"rows\": [" + std::string(kRow3) +
        ",\r\n {\"row\": 0, \"param\": \"  003\", \"index\": \"00\", \"value\": \"\\u0041\\u00e9"
        "\\ud83d\\ude00\\/\", \"unit\": \"\", \"name\": \"\", \"answered\": false}],"
        " \"format\": 1}";
    ASSERT_TRUE(tray::ParseConfiguration(json, &c, &error)) << error;
    ASSERT_EQ(2u, c.rows.size());
    EXPECT_EQ(0, c.rows[0].row);
    EXPECT_EQ("003", c.rows[0].param);
    EXPECT_EQ("A\xC3\xA9\xF0\x9F\x98\x80/", c.rows[0].value);
    EXPECT_FALSE(c.rows[0].answered);
    EXPECT_EQ(3, c.rows[1].row);
    EXPECT_EQ(0, c.speed);

    // What `read --format json` printed before the file had a head: the rows alone.
    ASSERT_TRUE(tray::ParseConfiguration("[" + std::string(kRow3) + "]", &c, &error)) << error;
    ASSERT_EQ(1u, c.rows.size());
    EXPECT_EQ(1, c.formatVersion);

    // A CSV saved by a spreadsheet: byte order mark, CR LF, quoted fields, comment lines.
    const std::string csv =
        "\xEF\xBB\xBF# format: 1\r\n# port: COM7\r\n\r\nrow,param,index,value,unit,name,answered\r\n"
        "12,052,07,\"1,\"\"2\"\"\r\n3\",,x,no\r\n\r\n";
    ASSERT_TRUE(tray::ParseConfiguration(csv, &c, &error)) << error;
    ASSERT_EQ(1u, c.rows.size());
    EXPECT_EQ("1,\"2\"\r\n3", c.rows[0].value);
    EXPECT_EQ("COM7", c.port);
    EXPECT_FALSE(c.rows[0].answered);
}

TEST(ConfigFile, RefusesFilesItCannotUseAndSaysWhere) {
    EXPECT_EQ("format 3 is newer than this krt42 understands (2)",
              Refusal(JsonFile("{\"what\": \"ever\"}", "\"format\": 3, ")));
    EXPECT_EQ("format 3 is newer than this krt42 understands (2)",
              Refusal("# format: 3\nrow,param,index,value,unit,name,answered\n"));
    EXPECT_EQ("format 12345678901 is newer than this krt42 understands (2)",
              Refusal(JsonFile("", "\"format\": 12345678901, ")));
    EXPECT_EQ("line 1: \"format\" must be a whole number", Refusal(JsonFile("", "\"format\": 1.0, ")));
    EXPECT_EQ("line 1: the file lacks \"format\"", Refusal(JsonFile(kRow3, "")));

    // Syntax is the JSON library's to judge; the line is ours to say.
    EXPECT_EQ("line 4: invalid literal; expected end of input", Refusal(JsonFile(kRow3) + "x"));
    EXPECT_EQ("line 3: row 3 appears twice (first on line 2)",
              Refusal(JsonFile(std::string(kRow3) + ",\n" + kRow3)));
    const std::string row104 =
        R"({"row": 104, "param": "052", "index": "99", "value": "", "unit": "", "name": "", "answered": true})";
    EXPECT_EQ("line 2: row 104 is outside 0..103", Refusal(JsonFile(row104)));
    EXPECT_EQ(
        "line 2: row 3 is 099:01, not 006:00",
        Refusal(JsonFile(
            R"({"row": 3, "param": "006", "index": "00", "value": "", "unit": "", "name": "", "answered": true})")));
    EXPECT_EQ("line 2: the row lacks \"value\"",
              Refusal(JsonFile(
                  R"({"row": 3, "param": "099", "index": "01", "unit": "", "name": "", "answered": true})")));
    EXPECT_EQ(
        "line 2: row 3: \"answered\" must be true or false",
        Refusal(JsonFile(
            R"({"row": 3, "param": "099", "index": "01", "value": "", "unit": "", "name": "", "answered": "yes"})")));
    EXPECT_EQ(
        "line 2: unknown field \"vaule\" in a row",
        Refusal(JsonFile(
            R"({"row": 3, "param": "099", "index": "01", "vaule": "", "unit": "", "name": "", "answered": true})")));
    EXPECT_EQ("line 2: the text is not UTF-8",
              Refusal("{\"format\": 1,\n\"port\": \"\xC0\xAF\", \"rows\": []}"));
    EXPECT_EQ("line 1: the text is not UTF-8", Refusal("[\"\xED\xA0\x80\"]"));
    EXPECT_EQ("line 1: the text is not UTF-8", Refusal("row,param\xFF"));
    EXPECT_EQ("line 1: invalid string: surrogate U+DC00..U+DFFF must follow U+D800..U+DBFF",
              Refusal("[\"\\udc00\"]"));
    EXPECT_EQ("line 1: invalid string: surrogate U+D800..U+DBFF must be followed by U+DC00..U+DFFF",
              Refusal("[\"\\ud800x\"]"));
    EXPECT_EQ("line 2: invalid string: control character U+0009 (HT) must be escaped to \\u0009 or \\t",
              Refusal("[\n\"a\tb\"]"));
    EXPECT_EQ("line 1: nested too deeply", Refusal(std::string(40, '[') + std::string(40, ']')));
    EXPECT_EQ("line 1: \"port\" appears twice", Refusal("{\"port\": \"a\", \"port\": \"b\"}"));
    EXPECT_EQ("line 1: unexpected end of input; expected '[', '{', or a literal",
              Refusal("{\"format\": 1, \"rows\": ["));
    EXPECT_EQ("line 1: invalid number; expected digit after '.'", Refusal("[1.]"));
    EXPECT_EQ("line 3: row 3: \"bytes\" must be hex digits, two a byte",
              Refusal(JsonFile("{\"row\": 3, \"param\": \"099\", \"index\": \"01\", \"value\": \"\",\n"
                               "\"bytes\": \"3\", \"unit\": \"\", \"name\": \"\", \"answered\": true}")));

    const std::string header = "row,param,index,value,unit,name,answered\n";
    EXPECT_EQ("line 2: row 3: answered must be yes or no", Refusal(header + "3,099,01,7,,n,true\n"));
    EXPECT_EQ("line 3: 6 fields, not 7", Refusal(header + "3,099,01,7,,n,yes\n2,099,00,7,,yes\n"));
    EXPECT_EQ("line 2: more than 7 fields", Refusal(header + "3,099,01,7,,n,yes,\n"));
    EXPECT_EQ("line 2: a quoted field is not closed", Refusal(header + "3,099,01,\"7\n,,n,yes\n"));
    EXPECT_EQ("line 2: text after a closing quote", Refusal(header + "3,099,01,\"7\"x,,n,yes\n"));
    EXPECT_EQ("line 2: row x is outside 0..103", Refusal(header + "x,099,01,7,,n,yes\n"));
    EXPECT_EQ(
        "line 1: the header must be row,param,index,value,unit,name,answered or "
        "row,param,index,value,unit,name,answered,bytes",
        Refusal("row,param,index,value,unit,answered\n"));
    EXPECT_EQ("line 2: row 3: bytes must be hex digits, two a byte",
              Refusal(header.substr(0, header.size() - 1) + ",bytes\n3,099,01,7,,n,yes,3Z\n"));
    EXPECT_EQ("line 1: the header row,param,index,value,unit,name,answered is missing", Refusal(""));
    // A refused file leaves what the caller had.
    Configuration kept;
    kept.port = "mine";
    std::string error;
    EXPECT_FALSE(tray::ParseConfiguration("[1]", &kept, &error));
    EXPECT_EQ("mine", kept.port);
}

TEST(ConfigFile, UsableValueIsWhatTheWriteRequestCarries) {
    std::string ansi, error;
    ASSERT_TRUE(tray::UsableValue(u8"Привет €5", &ansi, &error)) << error;
    EXPECT_EQ("\xCF\xF0\xE8\xE2\xE5\xF2\x20\x88\x35", ansi);

    EXPECT_FALSE(tray::UsableValue("ab\xE4\xB8\xAD", &ansi, &error));
    EXPECT_EQ("character 3 (U+4E2D) has no Windows-1251 form", error);
    EXPECT_FALSE(tray::UsableValue(u8"дa\tb", &ansi, &error));
    EXPECT_EQ("character 3 (U+0009) is a control character, which a write request cannot carry", error);
    EXPECT_FALSE(tray::UsableValue("x\x7f", &ansi, &error));
    EXPECT_EQ("character 2 (U+007F) is a control character, which a write request cannot carry", error);
    EXPECT_FALSE(tray::UsableValue("ok\xC3", &ansi, &error));
    EXPECT_EQ("character 3 is not UTF-8", error);

    // A frame of at most 6000 bytes: the plain parameters' head is five bytes shorter than that of
    // an element, so rows 0 and 1 take five characters more.
    ansi = "unchanged";
    EXPECT_TRUE(tray::UsableValue(std::string(5977, '1'), &ansi, &error, 7));
    EXPECT_EQ(5977u, ansi.size());
    EXPECT_FALSE(tray::UsableValue(std::string(5978, '1'), &ansi, &error, 7));
    EXPECT_EQ("the value has 5978 characters; a write request holds at most 5977", error);
    EXPECT_TRUE(tray::UsableValue(std::string(5982, '1'), &ansi, &error, 1));
    EXPECT_FALSE(tray::UsableValue(std::string(5983, '1'), &ansi, &error, 0));
    EXPECT_FALSE(tray::UsableValue(std::string(5978, '1'), &ansi, &error));

    // Only the rows that would be written are checked.
    Configuration c = FullTable();
    c.rows[9].value = "\x01";
    c.rows[9].answered = false;
    EXPECT_TRUE(tray::UsableRows(c, nullptr, &error));
    c.rows[9].answered = true;
    std::vector<bool> wanted(configurator::PARAM_ROW_COUNT, true);
    wanted[9] = false;
    EXPECT_TRUE(tray::UsableRows(c, &wanted, &error));
    EXPECT_FALSE(tray::UsableRows(c, nullptr, &error));
    EXPECT_EQ(
        "row 9 (052:04): character 1 (U+0001) is a control character, which a write request cannot carry",
        error);
}

TEST(ConfigFile, DifferencesAreTheRowsAWriteWouldChange) {
    const Configuration adapter = FullTable();  // row 4 unanswered there
    Configuration file = FullTable();
    for (ConfigRow& r : file.rows) r.answered = true;
    file.rows[7].value = "15";
    file.rows[2].value = "0 ";  // texts compare exactly
    file.rows[30].value = "99";
    file.rows[30].answered = false;           // never written
    file.rows.erase(file.rows.begin() + 50);  // a file may hold only the rows it cares about

    std::vector<tray::Difference> d = tray::Differences(file, adapter, nullptr);
    ASSERT_EQ(3u, d.size());
    EXPECT_EQ(2, d[0].row);
    EXPECT_EQ(4, d[1].row);  // the read got nothing: not known to agree
    EXPECT_FALSE(d[1].adapterAnswered);
    EXPECT_EQ(7, d[2].row);
    EXPECT_EQ("052", d[2].param);
    EXPECT_EQ("02", d[2].index);
    EXPECT_EQ("15", d[2].fileValue);
    EXPECT_EQ("0", d[2].adapterValue);
    EXPECT_TRUE(d[2].adapterAnswered);

    std::vector<bool> wanted;
    std::string error;
    ASSERT_TRUE(tray::ParseRowList("5-7", &wanted, &error)) << error;
    d = tray::Differences(file, adapter, &wanted);
    ASSERT_EQ(1u, d.size());
    EXPECT_EQ(7, d[0].row);
    EXPECT_TRUE(tray::Differences(adapter, adapter, nullptr).empty());
}

// A clone sends back exactly what the source adapter answered, though several bytes show as the
// same text; a value that a person typed goes out in Windows-1251 as before.
TEST(ConfigFile, ClonesKeepTheAdaptersBytesAndComparisonsCompareBytes) {
    auto rowHolding = [](const std::string& bytes) {
        return tray::TableRow(12, "", "", true, &bytes);  // the text is what the bytes show
    };
    Configuration adapter, file;
    adapter.rows = {rowHolding("\xB0")};
    file.rows = {rowHolding("\xB1")};
    file.rows[0].value = tray::ShownText("\xB1");
    adapter.rows[0].value = tray::ShownText("\xB0");
    ASSERT_EQ(adapter.rows[0].value, file.rows[0].value);  // both show alike
    std::vector<tray::Difference> d = tray::Differences(file, adapter, nullptr);
    ASSERT_EQ(1u, d.size());
    EXPECT_EQ("\xB1", d[0].fileBytes);
    EXPECT_EQ("\xB0", d[0].adapterBytes);

    // Bytes kept through a file: the written JSON reads back to them.
    const std::string oem = "\x8A\xAE\xA4 \x80";  // "Код А" as the adapter answers in 866
    file.rows = {rowHolding(oem)};
    file.rows[0].value = tray::ShownText(oem);
    Configuration back;
    std::string error, ansi;
    ASSERT_TRUE(tray::ParseConfiguration(tray::ConfigJson(file), &back, &error)) << error;
    ASSERT_TRUE(tray::WriteBytes(back.rows[0], &ansi, &error)) << error;
    EXPECT_EQ(oem, ansi);
    EXPECT_NE(std::string::npos, tray::ConfigJson(file).find("\"bytes\": \"8A AE A4 20 80\""));

    // A value a person changed is theirs, whatever bytes the row still carries.
    back.rows[0].value = u8"Код";
    ASSERT_TRUE(tray::WriteBytes(back.rows[0], &ansi, &error)) << error;
    EXPECT_EQ("\xCA\xEE\xE4", ansi);

    // Format 1 rows: a typed value agrees with the adapter that holds its bytes, and a value as
    // the configurator showed it agrees with the adapter it was read from.
    adapter.rows = {rowHolding("\xD2\xE5\xF1\xF2")};
    adapter.rows[0].value = tray::ShownText(adapter.rows[0].bytes);
    file.rows = {tray::TableRow(12, "", "", true)};
    for (const std::string& value : {std::string(u8"Тест"), adapter.rows[0].value}) {
        file.rows[0].value = value;
        EXPECT_TRUE(tray::Differences(file, adapter, nullptr).empty()) << value;
    }

    // Bytes that no request can carry are refused before anything is sent.
    file.rows = {rowHolding("a\x01")};
    file.rows[0].value = tray::ShownText("a\x01");
    EXPECT_FALSE(tray::UsableRows(file, nullptr, &error));
    EXPECT_EQ("row 12 (052:07): byte 2 (01) is a control byte, which a write request cannot carry", error);
}

TEST(ConfigFile, RowNamesAndRowLists) {
    EXPECT_EQ(0, tray::RowOfName("003"));
    EXPECT_EQ(1, tray::RowOfName("006"));
    EXPECT_EQ(2, tray::RowOfName("099"));
    EXPECT_EQ(3, tray::RowOfName("099:01"));
    EXPECT_EQ(5, tray::RowOfName("052"));
    EXPECT_EQ(12, tray::RowOfName("052:07"));
    EXPECT_EQ(103, tray::RowOfName("052:98"));
    EXPECT_EQ(99, tray::RowOfName("99"));
    EXPECT_EQ(100, tray::RowOfName("100"));
    EXPECT_EQ(103, tray::RowOfName("103"));
    for (const char* bad :
         {"104", "007", "052:99", "099:03", "003:00", "052:7", "5:01", "", "-1", "1a", "0003"}) {
        EXPECT_EQ(-1, tray::RowOfName(bad)) << bad;
    }

    std::vector<bool> wanted;
    std::string error;
    ASSERT_TRUE(tray::ParseRowList("0-2, 052:08,052:96-103", &wanted, &error)) << error;
    ASSERT_EQ(static_cast<size_t>(configurator::PARAM_ROW_COUNT), wanted.size());
    std::vector<int> rows;
    for (size_t k = 0; k < wanted.size(); ++k) {
        if (wanted[k]) rows.push_back(static_cast<int>(k));
    }
    EXPECT_EQ((std::vector<int>{0, 1, 2, 13, 101, 102, 103}), rows);

    const std::vector<bool> before = wanted;
    EXPECT_FALSE(tray::ParseRowList("5-2", &wanted, &error));
    EXPECT_EQ("the range 5-2 runs backwards", error);
    EXPECT_FALSE(tray::ParseRowList("1,,2", &wanted, &error));
    EXPECT_EQ("an empty entry in the row list", error);
    EXPECT_FALSE(tray::ParseRowList("3-104", &wanted, &error));
    EXPECT_EQ("unknown row 104 (0..103 or PARAM[:INDEX])", error);
    EXPECT_EQ(before, wanted);
}

TEST(ConfigFile, UtcTimeText) {
    EXPECT_EQ("1970-01-01T00:00:00Z", tray::UtcTimeText(0));
    EXPECT_EQ("1969-12-31T23:59:59Z", tray::UtcTimeText(-1));
    EXPECT_EQ("2000-02-29T12:00:00Z", tray::UtcTimeText(951825600));
    EXPECT_EQ("2100-01-01T00:00:00Z", tray::UtcTimeText(4102444800));
}

}  // namespace tray_test
