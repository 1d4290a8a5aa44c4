// Decoding of the adapter's answers into the table: values, units, elements, rows outside the
// table, foreign channels, frames without data, and frames cut short.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/unit/adapter/LinkRig.h"

namespace adapter_test {
namespace {

using namespace adapter;

TEST(ParamValueAnswer, ValueAndUnitAreConvertedAndAMissingUnitKeepsTheOldOne) {
    LinkRig rig;
    rig.table->SetMark(0, MARK_PENDING);
    // 866: 8F 80 = "ПА", AC = "м", F0 = "Ё", FC = "№".
    rig.Receive(WireFrame(FN_PARAM_VALUE, "\t0\t003\x0C\t\x8F\x80\xF0\xFC\t\xAC\x0C"));
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "\xCF\xC0\xA8\xB9");
    EXPECT_STREQ(rig.table->Text(0, COL_UNITS), "\xEC");
    EXPECT_EQ(rig.table->Mark(0), MARK_BLANK);

    rig.Receive(WireFrame(FN_PARAM_VALUE, "\t0\t003\x0C\t12\x0C"));
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "12");
    EXPECT_STREQ(rig.table->Text(0, COL_UNITS), "\xEC");
    rig.Receive(WireFrame(FN_PARAM_VALUE, "\t0\t003\x0C\t13\t\x0C"));  // empty unit
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "13");
    EXPECT_STREQ(rig.table->Text(0, COL_UNITS), "\xEC");

    rig.Receive(WireFrame(FN_PARAM_VALUE, "\t0\t006\x0C\tA\tB\tC\x0C"));
    EXPECT_STREQ(rig.table->Text(1, COL_VALUE), "A");
    EXPECT_STREQ(rig.table->Text(1, COL_UNITS), "B");
    rig.Receive(WireFrame(FN_PARAM_VALUE, "\t0\t099\x0C\tv\x0C"));
    EXPECT_STREQ(rig.table->Text(2, COL_VALUE), "v");
    // The good frame also counted as the connection.
    EXPECT_EQ(rig.host.LastStatus(1), "Подключение на COM3 (4800)");
}

TEST(ParamValueAnswer, ResultCodesAndAnswersThatLeaveTheTableAlone) {
    LinkRig rig;
    const auto untouched = [&] {
        return std::strcmp(rig.table->Text(0, COL_VALUE), "0000000000") == 0 &&
               std::strcmp(rig.table->Text(1, COL_VALUE), "0000000000") == 0;
    };
    EXPECT_EQ(
        rig.link->exchange.OnParamValue(rig.LoadFrame(WireFrame(FN_PARAM_VALUE, "\t0\t003\x0C\t9\x0C"))), 0);
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "9");
    rig.table->SetText(0, COL_VALUE, "0000000000");

    EXPECT_EQ(
        rig.link->exchange.OnParamValue(rig.LoadFrame(WireFrame(FN_PARAM_VALUE, "\t0\t004\x0C\t9\x0C"))), 1);
    EXPECT_EQ(
        rig.link->exchange.OnParamValue(rig.LoadFrame(WireFrame(FN_PARAM_VALUE, "\t1\t003\x0C\t9\x0C"))), 3);
    EXPECT_EQ(rig.link->exchange.OnParamValue(rig.LoadFrame(WireFrame(FN_PARAM_VALUE, "\t\t003\x0C\t9\x0C"))),
              3);
    // No DLE STX: the data start is missing.
    Bytes noStx = WireFrame(FN_PARAM_VALUE, "\t0\t003\x0C\t9\x0C");
    noStx[6] = 'x';
    EXPECT_EQ(rig.link->exchange.OnParamValue(rig.LoadFrame(noStx)), 2);
    EXPECT_TRUE(untouched());

    // Through the whole receive path the same answers are ignored.
    rig.Receive(WireFrame(FN_PARAM_VALUE, "\t2\t003\x0C\t9\x0C"));
    rig.Receive(WireFrame(FN_PARAM_VALUE, "\t0\t052\x0C\t9\x0C"));
    EXPECT_TRUE(untouched());
    for (int row = 0; row < 104; ++row) EXPECT_EQ(rig.table->Mark(row), MARK_BLANK);
}

TEST(ParamValueAnswer, FieldsEndWhereTheFrameEnds) {
    LinkRig rig;
    // Whatever lies behind FramePos is not part of the frame.
    std::memset(rig.link->state.FrameBuffer, 'X', sizeof rig.link->state.FrameBuffer);
    const Bytes body = {DLE, US, FN_PARAM_VALUE, DLE, STX, HT, '0', HT, '0', '0', '3', FF, HT, '4', '2'};
    std::memcpy(rig.link->state.FrameBuffer, body.data(), body.size());
    rig.link->state.FramePos = static_cast<int32_t>(body.size());
    EXPECT_EQ(rig.link->exchange.OnParamValue(3), 0);
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "42");
    EXPECT_STREQ(rig.table->Text(0, COL_UNITS), "");

    // Cut inside the head: the parameter field runs to the end.
    rig.link->state.FramePos = 9;
    EXPECT_EQ(rig.link->exchange.OnParamValue(3), 1);

    // A frame that fills the buffer to its last byte.
    std::memset(rig.link->state.FrameBuffer, '7', sizeof rig.link->state.FrameBuffer);
    std::memcpy(rig.link->state.FrameBuffer, body.data(), body.size());
    rig.link->state.FramePos = FRAME_BUFFER_SIZE;
    EXPECT_EQ(rig.link->exchange.OnParamValue(3), 0);
    EXPECT_EQ(std::strlen(rig.table->Text(0, COL_VALUE)), static_cast<std::size_t>(FRAME_BUFFER_SIZE - 13));
    EXPECT_EQ(rig.link->exchange.OnArrayValues(3), 1);
    EXPECT_EQ(rig.link->exchange.OnWriteReply(3), 0);
}

TEST(ArrayAnswer, ElementsFillTheirRowsOnly) {
    LinkRig rig;
    rig.Receive(WireFrame(FN_ARRAY_VALUES, "\t0\t099\t1\t1\x0C\t\x8F\t\xAC\tq\x0C"));
    EXPECT_STREQ(rig.table->Text(3, COL_VALUE), "\xCF");
    EXPECT_STREQ(rig.table->Text(3, COL_UNITS), "\xEC");
    EXPECT_STREQ(rig.table->Text(2, COL_VALUE), "0000000000");
    EXPECT_STREQ(rig.table->Text(4, COL_VALUE), "0000000000");

    // Elements cut short by an FF at each place; an empty element empties the cell, an
    // element without a unit keeps the old unit.
    rig.table->SetText(6, COL_UNITS, "old");
    rig.table->SetText(7, COL_UNITS, "old");
    rig.Receive(WireFrame(FN_ARRAY_VALUES,
                          "\t0\t052\t0\t5\x0C"
                          "\x0C"
                          "\t11\x0C"
                          "\t22\tu2\x0C"
                          "\t33\tu3\tskip\x0C"
                          "\t44\t\tskip\x0C"));
    EXPECT_STREQ(rig.table->Text(5, COL_VALUE), "");
    EXPECT_STREQ(rig.table->Text(6, COL_VALUE), "11");
    EXPECT_STREQ(rig.table->Text(6, COL_UNITS), "old");
    EXPECT_STREQ(rig.table->Text(7, COL_VALUE), "22");
    EXPECT_STREQ(rig.table->Text(7, COL_UNITS), "u2");
    EXPECT_STREQ(rig.table->Text(8, COL_VALUE), "33");
    EXPECT_STREQ(rig.table->Text(8, COL_UNITS), "u3");
    EXPECT_STREQ(rig.table->Text(9, COL_VALUE), "44");
    EXPECT_STREQ(rig.table->Text(10, COL_VALUE), "0000000000");
}

TEST(ArrayAnswer, RowsOutsideTheTableStopTheDecoding) {
    LinkRig rig;
    // Elements 97 and 98 are rows 102 and 103; element 99 has no row, nor has anything after it.
    EXPECT_EQ(rig.link->exchange.OnArrayValues(rig.LoadFrame(
                  WireFrame(FN_ARRAY_VALUES, "\t0\t052\t97\t4\x0C\ta\x0C\tb\x0C\tc\x0C\td\x0C"))),
              1);
    EXPECT_STREQ(rig.table->Text(102, COL_VALUE), "a");
    EXPECT_STREQ(rig.table->Text(103, COL_VALUE), "b");

    // A start that reads below zero ('-' counts as -3): the first element has no row, and the
    // ones after it are not looked at either.
    EXPECT_EQ(rig.link->exchange.OnArrayValues(
                  rig.LoadFrame(WireFrame(FN_ARRAY_VALUES, "\t0\t099\t-\t3\x0C\tm\x0C\tn\x0C"))),
              1);
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "0000000000");
    EXPECT_STREQ(rig.table->Text(1, COL_VALUE), "0000000000");

    // Unknown parameter, empty start or count, foreign channel, no data start.
    EXPECT_EQ(rig.link->exchange.OnArrayValues(
                  rig.LoadFrame(WireFrame(FN_ARRAY_VALUES, "\t0\t053\t0\t1\x0C\tm\x0C"))),
              1);
    EXPECT_EQ(rig.link->exchange.OnArrayValues(
                  rig.LoadFrame(WireFrame(FN_ARRAY_VALUES, "\t0\t052\t\t1\x0C\tm\x0C"))),
              1);
    EXPECT_EQ(rig.link->exchange.OnArrayValues(
                  rig.LoadFrame(WireFrame(FN_ARRAY_VALUES, "\t0\t052\t0\t\x0C\tm\x0C"))),
              1);
    EXPECT_EQ(rig.link->exchange.OnArrayValues(
                  rig.LoadFrame(WireFrame(FN_ARRAY_VALUES, "\t7\t052\t0\t1\x0C\tm\x0C"))),
              3);
    Bytes noStx = WireFrame(FN_ARRAY_VALUES, "\t0\t052\t0\t1\x0C\tm\x0C");
    noStx[5] = 'x';
    EXPECT_EQ(rig.link->exchange.OnArrayValues(rig.LoadFrame(noStx)), 2);
    EXPECT_STREQ(rig.table->Text(5, COL_VALUE), "00");

    // A huge count on a short frame ends at the table's last row.
    EXPECT_EQ(rig.link->exchange.OnArrayValues(
                  rig.LoadFrame(WireFrame(FN_ARRAY_VALUES, "\t0\t052\t90\t99999999999\x0C"))),
              1);
}

TEST(WriteReply, EmptyReplyClearsTheMarkAndATextRefusalShowsIt) {
    LinkRig rig;
    rig.table->SetMark(7, MARK_PENDING);
    rig.Receive(WireFrame(FN_WRITE_REPLY, "\t0\t052\t2\t1\x0C\t\x0C"));
    EXPECT_EQ(rig.table->Mark(7), MARK_BLANK);
    EXPECT_STREQ(rig.table->Text(7, COL_VALUE), "0000000000");

    // The refusal's text whole, whether it is the item's value or stands behind an empty value.
    rig.table->SetMark(3, MARK_PENDING);
    rig.Receive(WireFrame(FN_WRITE_REPLY, "\t0\t099\t1\t1\x0C\t\x8D\xA5\xE2\x0C"));  // 866 "Нет"
    EXPECT_EQ(rig.table->Mark(3), MARK_ERROR);
    EXPECT_STREQ(rig.table->Text(3, COL_VALUE), "\xCD\xE5\xF2");
    rig.table->SetText(3, COL_VALUE, "");
    rig.Receive(WireFrame(FN_WRITE_REPLY, "\t0\t099\t1\t1\x0C\t\t\x8D\xA5\xE2\x0C"));
    EXPECT_STREQ(rig.table->Text(3, COL_VALUE), "\xCD\xE5\xF2");

    rig.table->SetMark(0, MARK_PENDING);
    EXPECT_EQ(rig.link->exchange.OnWriteReply(rig.LoadFrame(WireFrame(FN_WRITE_REPLY, "\t0\t003\x0C\t\x0C"))),
              0);
    EXPECT_EQ(rig.table->Mark(0), MARK_BLANK);
    EXPECT_EQ(
        rig.link->exchange.OnWriteReply(rig.LoadFrame(WireFrame(FN_WRITE_REPLY, "\t0\t006\x0C\t\tbad\x0C"))),
        0);
    EXPECT_EQ(rig.table->Mark(1), MARK_ERROR);
    EXPECT_STREQ(rig.table->Text(1, COL_VALUE), "bad");

    // Rows outside the table, unknown parameters, foreign channels and missing data start.
    EXPECT_EQ(rig.link->exchange.OnWriteReply(
                  rig.LoadFrame(WireFrame(FN_WRITE_REPLY, "\t0\t052\t99\t1\x0C\t\tno\x0C"))),
              1);
    EXPECT_EQ(rig.link->exchange.OnWriteReply(
                  rig.LoadFrame(WireFrame(FN_WRITE_REPLY, "\t0\t052\t\t1\x0C\t\tno\x0C"))),
              1);
    EXPECT_EQ(rig.link->exchange.OnWriteReply(
                  rig.LoadFrame(WireFrame(FN_WRITE_REPLY, "\t0\t099\t-\t1\x0C\t\tno\x0C"))),
              1);
    EXPECT_EQ(
        rig.link->exchange.OnWriteReply(rig.LoadFrame(WireFrame(FN_WRITE_REPLY, "\t0\t011\x0C\t\tno\x0C"))),
        1);
    EXPECT_EQ(
        rig.link->exchange.OnWriteReply(rig.LoadFrame(WireFrame(FN_WRITE_REPLY, "\t4\t003\x0C\t\tno\x0C"))),
        3);
    Bytes noStx = WireFrame(FN_WRITE_REPLY, "\t0\t003\x0C\t\tno\x0C");
    noStx[5] = 'x';
    EXPECT_EQ(rig.link->exchange.OnWriteReply(rig.LoadFrame(noStx)), 2);
    EXPECT_EQ(rig.table->Mark(0), MARK_BLANK);
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "0000000000");
    EXPECT_EQ(rig.table->Mark(104 - 1), MARK_BLANK);
}

}  // namespace
}  // namespace adapter_test
