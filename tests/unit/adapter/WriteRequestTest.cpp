// The write request of an edited row, and the values that cannot go out whole: too long, or
// holding a byte that a frame's data cannot carry.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "adapter/Requests.h"
#include "tests/unit/adapter/LinkRig.h"

namespace adapter_test {
namespace {

using namespace adapter;

std::string WriteOf(LinkRig& rig, int row, const std::string& value) {
    rig.table->SetText(row, COL_VALUE, value.c_str());
    EXPECT_TRUE(rig.link->exchange.WriteParameter(row)) << row;
    rig.Settle();
    return rig.Requests().empty() ? "" : Hex(rig.Requests().back().frame);
}

TEST(WriteRequest, EachKindOfRowGoesOutWithItsHead) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    EXPECT_EQ(WriteOf(rig, 7, "15"),
              "10 01 10 1F 14 10 02 09 30 09 30 35 32 09 30 32 09 31 0C 09 31 35 0C 10 03 F4 B7");

    const std::string row0 = WriteOf(rig, 0, "7");
    EXPECT_EQ(row0.substr(0, 3 * 19 - 1), "10 01 10 1F 03 10 02 09 30 09 30 30 33 0C 09 37 0C 10 03");
    const std::string row1 = WriteOf(rig, 1, "");
    EXPECT_EQ(row1.substr(0, 3 * 18 - 1), "10 01 10 1F 03 10 02 09 30 09 30 30 36 0C 09 0C 10 03");
    const std::string row4 = WriteOf(rig, 4, "AB");
    EXPECT_EQ(row4.substr(0, 3 * 25 - 1),
              "10 01 10 1F 14 10 02 09 30 09 30 39 39 09 30 32 09 31 0C 09 41 42 0C 10 03");
    const std::string row103 = WriteOf(rig, 103, "\xCF");  // sent as the table holds it
    EXPECT_EQ(row103.substr(0, 3 * 24 - 1),
              "10 01 10 1F 14 10 02 09 30 09 30 35 32 09 39 38 09 31 0C 09 CF 0C 10 03");
    // Every frame is whole: its checksum over the body comes out 0.
    for (const Request& r : rig.Requests()) {
        EXPECT_EQ(Crc16Xmodem(r.frame.data() + 2, static_cast<uint16_t>(r.frame.size() - 2)), 0);
    }
    // A write starts no countdown.
    EXPECT_EQ(rig.link->state.TimeoutState, Idle);
}

TEST(WriteRequest, ValueThatDoesNotFitIsRefusedVisiblyAndNothingIsSent) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    // Row 7's frame is 23 bytes around its value, 6000 at most before the checksum.
    const std::string longest(5977, '5');
    rig.table->SetText(7, COL_VALUE, longest.c_str());
    rig.table->SetMark(7, MARK_PENDING);
    ASSERT_TRUE(rig.link->exchange.WriteParameter(7));
    rig.Settle();
    ASSERT_EQ(rig.Requests().size(), 1u);
    EXPECT_EQ(rig.Requests()[0].frame.size(), 6002u);
    EXPECT_EQ(rig.table->Mark(7), MARK_PENDING);

    for (std::size_t length : {5978u, 6001u, 8000u}) {
        const std::string tooLong(length, '5');
        rig.table->SetText(7, COL_VALUE, tooLong.c_str());
        rig.table->SetMark(7, MARK_PENDING);
        EXPECT_FALSE(rig.link->exchange.WriteParameter(7)) << length;
        rig.Settle();
        EXPECT_EQ(rig.table->Mark(7), MARK_ERROR) << length;
        EXPECT_EQ(rig.Requests().size(), 1u) << length;
    }
    // Row 0's head is three bytes shorter.
    const std::string fitsRow0(5980, '1');
    rig.table->SetText(0, COL_VALUE, fitsRow0.c_str());
    EXPECT_TRUE(rig.link->exchange.WriteParameter(0));
    rig.Settle();
    EXPECT_EQ(rig.Requests().size(), 2u);

    EXPECT_FALSE(rig.link->exchange.WriteParameter(104));
    EXPECT_FALSE(rig.link->exchange.WriteParameter(-1));
}

TEST(WriteRequest, FirstUnsendableByteFindsControlBytesOnly) {
    // Every single byte: below 0x20 and DEL cannot be carried, the rest (0x80.. are letters) can.
    for (int b = 0; b < 256; ++b) {
        const char one = static_cast<char>(b);
        EXPECT_EQ(FirstUnsendableByte(&one, 1), (b < 0x20 || b == 0x7F) ? 0 : -1) << b;
    }
    struct Case {
        std::string value;
        int position;
    } cases[] = {
        {"", -1},
        {"0000000000", -1},
        {"1\t99", 1},
        {"12\n", 2},
        {"\r\n", 0},
        {"5\x10\x03", 1},
        {"ab\x7F\t", 2},                // the first of several
        {std::string("1\0002", 3), 1},  // a zero inside the given length counts
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FirstUnsendableByte(c.value.data(), c.value.size()), c.position) << Hex(ToBytes(c.value));
    }
    // Only the given length is looked at.
    EXPECT_EQ(FirstUnsendableByte("15\t", 2), -1);
    EXPECT_EQ(FirstUnsendableByte(nullptr, 0), -1);
}

TEST(WriteRequest, ValueHoldingAControlByteIsRefusedVisiblyAndNothingIsSent) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    const std::string refused[] = {"1\t99", "1\n2", "15\r", "5\x10", "7\x01", "\x7F", "2\f", "\x1F"};
    for (int row : {0, 7}) {  // the plain head and the indexed one
        for (const std::string& value : refused) {
            const auto where = ::testing::Message() << "row " << row << " " << Hex(ToBytes(value));
            // The builder itself builds nothing of such a value.
            uint8_t out[64];
            std::memset(out, 0xAA, sizeof out);
            EXPECT_EQ(BuildWriteRequest(*RowsOfRow(row), "02", value.c_str(), out, sizeof out), -1) << where;
            EXPECT_EQ(out[0], 0xAA) << where;

            rig.table->SetText(row, COL_VALUE, value.c_str());
            rig.table->SetMark(row, MARK_PENDING);
            EXPECT_FALSE(rig.link->exchange.WriteParameter(row)) << where;
            rig.Settle();
            EXPECT_EQ(rig.table->Mark(row), MARK_ERROR) << where;

            // The same from the editor: the row shows what was entered, marked Error.
            rig.table->SetMark(row, MARK_BLANK);
            rig.link->state.ParamIndex = 3;
            rig.link->exchange.CommitEdit(row, true, value.c_str(), "0000000000");
            rig.Settle();
            EXPECT_EQ(std::string(rig.table->Text(row, COL_VALUE)), value) << where;
            EXPECT_EQ(rig.table->Mark(row), MARK_ERROR) << where;
            EXPECT_EQ(rig.link->state.ParamIndex, -1) << where;
        }
    }
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_EQ(rig.api.Written(LinkRig::kPort).size(), 0u);

    // Blanks, the last printable byte and every Windows-1251 letter still go out as they stand.
    std::string letters = " ~";
    for (int b = 0x80; b <= 0xFF; ++b) letters += static_cast<char>(b);
    for (const std::string& value : {std::string("15"), letters}) {
        rig.table->SetText(7, COL_VALUE, value.c_str());
        rig.table->SetMark(7, MARK_PENDING);
        EXPECT_TRUE(rig.link->exchange.WriteParameter(7));
        rig.Settle();
        EXPECT_EQ(rig.table->Mark(7), MARK_PENDING);
        ASSERT_FALSE(rig.Requests().empty());
        const Bytes& frame = rig.Requests().back().frame;
        ASSERT_EQ(frame.size(), 25u + value.size());
        EXPECT_EQ(std::string(frame.begin() + 20, frame.begin() + 20 + static_cast<long>(value.size())),
                  value);
        EXPECT_EQ(Crc16Xmodem(frame.data() + 2, static_cast<uint16_t>(frame.size() - 2)), 0);
    }
    EXPECT_EQ(rig.Requests().size(), 2u);
}

TEST(WriteRequest, WriteThatCannotBeQueuedIsMarkedNotSent) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    rig.api.BlockWrites(true);  // the first write never finishes: the channel stays busy
    rig.table->SetText(7, COL_VALUE, "1");
    EXPECT_TRUE(rig.link->exchange.WriteParameter(7));
    ASSERT_TRUE(rig.api.WaitForBlockedWrite());
    int accepted = 0;
    for (int row = 8; row < 20; ++row) {
        rig.table->SetMark(row, MARK_PENDING);
        if (!rig.link->exchange.WriteParameter(row)) break;
        ++accepted;
    }
    const int refused = 8 + accepted;
    EXPECT_GE(accepted, 1);
    EXPECT_LT(accepted, 12);
    EXPECT_EQ(rig.table->Mark(refused), MARK_ERROR);
    EXPECT_EQ(rig.table->Mark(refused - 1), MARK_PENDING);

    // Once the line moves again, every accepted write goes out, in order, and the refused one never.
    rig.api.BlockWrites(false);
    rig.api.ReleaseWrites();
    for (int i = 0; i <= accepted; ++i) rig.Tick();
    ASSERT_EQ(rig.Requests().size(), static_cast<std::size_t>(accepted + 1));
    for (int i = 0; i <= accepted; ++i) {
        char index[16];
        std::snprintf(index, sizeof index, "%02d", 2 + i);
        EXPECT_EQ(rig.Requests()[i].frame[14], index[0]) << i;
        EXPECT_EQ(rig.Requests()[i].frame[15], index[1]) << i;
    }
}

// The editor's end: an accepted value goes out at once and ends a running read; a cancelled one
// leaves the row as it was and sends nothing.
TEST(WriteRequest, AcceptedEditIsWrittenAndEndsTheReadCancelledOneChangesNothing) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    rig.link->state.ParamIndex = 2;  // a read sequence running
    rig.link->exchange.CommitEdit(7, false, "99", "0000000000");
    rig.Settle();
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_EQ(std::string(rig.table->Text(7, COL_VALUE)), "0000000000");
    EXPECT_EQ(rig.table->Mark(7), MARK_BLANK);
    EXPECT_EQ(rig.link->state.ParamIndex, 2);

    rig.link->exchange.CommitEdit(7, true, "15", "0000000000");
    EXPECT_EQ(std::string(rig.table->Text(7, COL_VALUE)), "15");
    EXPECT_EQ(rig.table->Mark(7), MARK_PENDING);
    EXPECT_EQ(rig.link->state.ParamIndex, -1);
    rig.Settle();
    ASSERT_EQ(rig.Requests().size(), 1u);
    EXPECT_EQ(Hex(rig.Requests()[0].frame),
              "10 01 10 1F 14 10 02 09 30 09 30 35 32 09 30 32 09 31 0C 09 31 35 0C 10 03 F4 B7");
}

}  // namespace
}  // namespace adapter_test
