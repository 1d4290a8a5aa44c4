// The texts of the command line and the station: what a script or a terminal gets for values that
// hold quotes, separators, line breaks and control bytes, and the adapter's bytes as hex.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tray/Text.h"

namespace tray_test {

TEST(CsvAndHex, QuoteWhatWouldBreakARowAndKeepEveryByte) {
    EXPECT_EQ(tray::CsvField("500"), "500");
    EXPECT_EQ(tray::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(tray::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(tray::CsvField("\"\""), "\"\"\"\"\"\"");
    EXPECT_EQ(tray::CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(tray::CsvField("cr\r"), "\"cr\r\"");
    EXPECT_EQ(tray::CsvField(" padded "), "\" padded \"");

    // Bytes as hex and back, all 256 of them; blanks are optional, anything else is refused.
    std::string all, back;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    ASSERT_TRUE(tray::BytesOfHex(tray::HexOfBytes(all), &back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(tray::HexOfBytes("\xD2\xE5\x01"), "D2 E5 01");
    ASSERT_TRUE(tray::BytesOfHex("d2E501", &back));
    EXPECT_EQ(back, "\xD2\xE5\x01");
    for (const char* bad : {"D", "D2 E", "GG", "D2,E5"}) EXPECT_FALSE(tray::BytesOfHex(bad, &back)) << bad;
}

TEST(Printable, ShowsControlBytesAndBrokenTextAsHex) {
    EXPECT_EQ(tray::Printable(u8"мс 500"), u8"мс 500");
    EXPECT_EQ(tray::Printable(std::string("a\x1b[2Jb", 6)), "a\\x1B[2Jb");
    EXPECT_EQ(tray::Printable(std::string("\x7f\t", 2)), "\\x7F\\x09");
    EXPECT_EQ(tray::Printable("\xc2\x98"), "\\x98");  // a C1 control
    EXPECT_EQ(tray::Printable("\xff"
                              "ok"),
              "\\xFFok");
}

TEST(Utf8ToAnsi, TakesOnlyWellFormedTextThatTheCodePageHolds) {
    std::string ansi;
    size_t at = 0;
    EXPECT_EQ(tray::AnsiFromUtf8(u8"Ёж №5 €", &ansi, &at), tray::TextFault::None);
    EXPECT_EQ(ansi, "\xA8\xE6 \xB9\x35 \x88");
    EXPECT_EQ(tray::Utf8FromAnsi(ansi), u8"Ёж №5 €");
    // Overlong forms (a NUL in disguise), surrogates, beyond U+10FFFF, cut sequences.
    for (const char* broken : {"a\xc0\x80", "a\xe0\x80\xaf", "a\xed\xa0\x80", "a\xf4\x90\x80\x80", "a\xd0"}) {
        EXPECT_EQ(tray::AnsiFromUtf8(broken, &ansi, &at), tray::TextFault::NotUtf8) << broken;
        EXPECT_EQ(at, 2u) << broken;
    }
    EXPECT_EQ(tray::AnsiFromUtf8("ok \xe2\x9c\x93", &ansi, &at) /* U+2713 */, tray::TextFault::NotInCodePage);
    EXPECT_EQ(at, 4u);
    // Every byte of the code page goes there and back.
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        ASSERT_EQ(tray::AnsiFromUtf8(tray::Utf8FromAnsi(one), &ansi, &at), tray::TextFault::None) << b;
        EXPECT_EQ(ansi, one) << b;
    }
}

}  // namespace tray_test
