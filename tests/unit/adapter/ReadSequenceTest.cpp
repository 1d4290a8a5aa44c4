// The read sequence: six requests one at a time, answered or timed out, and the finished notice.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/unit/adapter/LinkRig.h"

namespace adapter_test {
namespace {

using namespace adapter;

// The six requests as they go out, checksums included.
const std::vector<std::string> kReadRequests = {
    "10 01 10 1F 1D 10 02 09 30 09 30 30 33 0C 10 03 C5 15",
    "10 01 10 1F 1D 10 02 09 30 09 30 30 36 0C 10 03",
    "10 01 10 1F 1D 10 02 09 30 09 30 39 39 0C 10 03 05 C2",
    "10 01 10 1F 0C 10 02 09 30 09 30 39 39 09 31 09 30 30 31 0C 10 03 B1 83",
    "10 01 10 1F 0C 10 02 09 30 09 30 39 39 09 32 09 30 30 31 0C 10 03",
    "10 01 10 1F 0C 10 02 09 30 09 30 35 32 09 30 09 30 39 39 0C 10 03 D3 A2",
};

// Compares a request with its expected text; a text without checksum matches the frame's start.
void ExpectRequest(const Bytes& frame, const std::string& expected, int step) {
    const std::string got = Hex(frame);
    if (expected.size() + 6 == got.size()) {
        EXPECT_EQ(got.substr(0, expected.size()), expected) << "step " << step;
    } else {
        EXPECT_EQ(got, expected) << "step " << step;
    }
}

// An adapter that answers every read request of the sequence.
void AnswerEverything(LinkRig& rig, const Request& r) {
    const std::string h = Hex(r.frame);
    auto is = [&](int step) { return h.compare(0, kReadRequests[step].size(), kReadRequests[step]) == 0; };
    if (is(0)) rig.Answer(WireFrame(FN_PARAM_VALUE, "\t0\t003\x0C\tSPEC-1\t\xAC\x0C"));
    if (is(1)) rig.Answer(WireFrame(FN_PARAM_VALUE, "\t0\t006\x0C\tID-77\x0C"));
    if (is(2)) rig.Answer(WireFrame(FN_PARAM_VALUE, "\t0\t099\x0C\tV3.1\x0C"));
    if (is(3)) rig.Answer(WireFrame(FN_ARRAY_VALUES, "\t0\t099\t1\t1\x0C\tN-1234\t\tx\x0C"));
    if (is(4)) rig.Answer(WireFrame(FN_ARRAY_VALUES, "\t0\t099\t2\t1\x0C\tB-9\x0C"));
    if (is(5)) {
        std::string data = "\t0\t052\t0\t99\x0C";
        for (int k = 0; k < 99; ++k) {
            char element[32];
            std::snprintf(element, sizeof element, "\tT%02d\tu%d\tz\x0C", k, k % 3);
            data += element;
        }
        rig.Answer(WireFrame(FN_ARRAY_VALUES, data));
    }
}

TEST(ReadSequence, FullReadFillsEveryRowThenShowsTheNoticeForThreeSeconds) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    for (int row = 0; row < 104; ++row) rig.table->SetMark(row, MARK_PENDING);
    rig.adapter = [&](const Request& r) { AnswerEverything(rig, r); };

    rig.link->StartParameterRead();
    rig.Settle();
    EXPECT_EQ(rig.host.status[0], std::vector<std::string>({"Получение параметров ..."}));
    ASSERT_TRUE(rig.TickUntil([&] { return rig.link->state.ParamIndex == -1; }, 100));
    EXPECT_EQ(rig.host.LastStatus(0), "Получение данных закончено ");
    EXPECT_EQ(rig.link->state.TimeoutState, DoneNotice);

    ASSERT_EQ(rig.Requests().size(), 6u);
    for (int step = 0; step < 6; ++step) ExpectRequest(rig.Requests()[step].frame, kReadRequests[step], step);

    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "SPEC-1");
    EXPECT_STREQ(rig.table->Text(0, COL_UNITS), "\xEC");  // 866 -> 1251
    EXPECT_STREQ(rig.table->Text(1, COL_VALUE), "ID-77");
    EXPECT_STREQ(rig.table->Text(2, COL_VALUE), "V3.1");
    EXPECT_STREQ(rig.table->Text(3, COL_VALUE), "N-1234");
    EXPECT_STREQ(rig.table->Text(3, COL_UNITS), "");
    EXPECT_STREQ(rig.table->Text(4, COL_VALUE), "B-9");
    for (int row = 5; row < 104; ++row) {
        char value[16], unit[16];
        std::snprintf(value, sizeof value, "T%02d", row - 5);
        std::snprintf(unit, sizeof unit, "u%d", (row - 5) % 3);
        EXPECT_STREQ(rig.table->Text(row, COL_VALUE), value) << row;
        EXPECT_STREQ(rig.table->Text(row, COL_UNITS), unit) << row;
    }
    for (int row = 0; row < 104; ++row) EXPECT_EQ(rig.table->Mark(row), MARK_BLANK) << row;
    EXPECT_EQ(rig.host.LastStatus(1), "Подключение на COM3 (9600)");

    rig.Ticks(149);
    EXPECT_EQ(rig.host.LastStatus(0), "Получение данных закончено ");
    rig.Tick();
    EXPECT_EQ(rig.host.LastStatus(0), " ");
    EXPECT_EQ(rig.link->state.TimeoutState, Idle);
}

TEST(ReadSequence, SilentAdapterTimesOutEachStepThenFinishes) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    rig.link->StartParameterRead();
    rig.Settle();
    rig.Ticks(600);

    std::vector<std::pair<int, uint32_t>> expected;
    for (int k = 1; k <= 6; ++k) expected.push_back({100 * k, CM_NO_ANSWER});
    EXPECT_EQ(rig.host.delivered, expected);
    int noLink = 0;
    for (const std::string& s : rig.host.status[1]) noLink += (s == "Нет связи...");
    EXPECT_EQ(noLink, 6);
    ASSERT_EQ(rig.Requests().size(), 6u);
    for (int step = 0; step < 6; ++step) ExpectRequest(rig.Requests()[step].frame, kReadRequests[step], step);
    EXPECT_EQ(rig.host.status[0],
              std::vector<std::string>({"Получение параметров ...", "Получение данных закончено "}));
    EXPECT_EQ(rig.link->state.ParamIndex, -1);
    EXPECT_STREQ(rig.table->Text(5, COL_VALUE), "00");  // rows keep their texts

    rig.Ticks(150);
    EXPECT_EQ(rig.host.LastStatus(0), " ");
    rig.Ticks(200);
    EXPECT_EQ(rig.Requests().size(), 6u);
}

TEST(ReadSequence, SecondStartWhileReadingChangesNothing) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    rig.link->StartParameterRead();
    rig.Settle();
    rig.Ticks(130);  // step 1 is out
    ASSERT_EQ(rig.link->state.ParamIndex, 1);
    const int ticks = rig.link->state.TimeoutTicks;
    rig.link->StartParameterRead();
    rig.Settle();
    EXPECT_EQ(rig.link->state.ParamIndex, 1);
    EXPECT_EQ(rig.link->state.TimeoutTicks, ticks);
    EXPECT_EQ(rig.Requests().size(), 2u);
    EXPECT_EQ(rig.host.status[0].size(), 1u);
}

TEST(ReadSequence, AcceptedEditEndsTheReadAfterItsCurrentRequest) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    rig.link->StartParameterRead();
    rig.Settle();
    rig.Answer(WireFrame(FN_PARAM_VALUE, "\t0\t003\x0C\t5\x0C"));
    rig.Tick();
    ASSERT_EQ(rig.link->state.ParamIndex, 1);  // step 1 is out

    // What the in-place edit does when the user accepts a value.
    rig.table->SetText(7, COL_VALUE, "15");
    rig.table->SetMark(7, MARK_PENDING);
    rig.link->state.ParamIndex = -1;
    ASSERT_TRUE(rig.link->exchange.WriteParameter(7));
    rig.Settle();

    // The answer to step 1 is still decoded, but no step follows it.
    rig.Answer(WireFrame(FN_PARAM_VALUE, "\t0\t006\x0C\t12\x0C"));
    rig.Tick();
    EXPECT_STREQ(rig.table->Text(1, COL_VALUE), "12");
    EXPECT_EQ(rig.link->state.ParamIndex, -1);
    rig.Ticks(300);
    ASSERT_EQ(rig.Requests().size(), 3u);  // steps 0 and 1 and the write
    EXPECT_EQ(rig.Requests()[2].frame[4], FN_ARRAY_VALUES);
    EXPECT_EQ(rig.host.LastStatus(0), "Получение параметров ...");
    EXPECT_EQ(rig.table->Mark(7), MARK_PENDING);  // no reply came

    // A new read can start again.
    rig.link->StartParameterRead();
    rig.Settle();
    EXPECT_EQ(rig.Requests().size(), 4u);
}

TEST(ReadSequence, StepsOutsideTheSequenceSendTheFirstRequest) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    for (int step : {-1, 7, 100}) {
        rig.link->exchange.RequestParameter(step);
        rig.Settle();
    }
    ASSERT_EQ(rig.Requests().size(), 3u);
    for (const Request& r : rig.Requests()) ExpectRequest(r.frame, kReadRequests[0], 0);
    EXPECT_EQ(rig.link->state.TimeoutState, AwaitAnswer);
    EXPECT_EQ(rig.link->state.TimeoutTicks, 100);
}

}  // namespace
}  // namespace adapter_test
