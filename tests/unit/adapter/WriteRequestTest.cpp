// The write request of an edited row, and the values too long to go out whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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
