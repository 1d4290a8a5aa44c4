// The simulated adapter's answers, byte for byte on the wire, to the requests the configurator
// sends. Expected checksums were worked out independently of the code under test.
#include <gtest/gtest.h>

#include "adapter/AdapterLink.h"
#include "simulator/SimFrames.h"
#include "tests/unit/simulator/SimTestSupport.h"

namespace {

using simtest::Bytes;
using simtest::Drain;
using simtest::FakeHost;
using simtest::Feed;

const Bytes kStep[6] = {
    {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x30, 0x33, 0x0C, 0x10, 0x03, 0xC5,
     0x15},
    {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x30, 0x36, 0x0C, 0x10, 0x03, 0x79,
     0x50},
    {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39, 0x39, 0x0C, 0x10, 0x03, 0x05,
     0xC2},
    {0x10, 0x01, 0x10, 0x1F, 0x0C, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39,
     0x39, 0x09, 0x31, 0x09, 0x30, 0x30, 0x31, 0x0C, 0x10, 0x03, 0xB1, 0x83},
    {0x10, 0x01, 0x10, 0x1F, 0x0C, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39,
     0x39, 0x09, 0x32, 0x09, 0x30, 0x30, 0x31, 0x0C, 0x10, 0x03, 0x79, 0xF6},
    {0x10, 0x01, 0x10, 0x1F, 0x0C, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x35,
     0x32, 0x09, 0x30, 0x09, 0x30, 0x39, 0x39, 0x0C, 0x10, 0x03, 0xD3, 0xA2},
};

// Writing row 7 (element 02 of 052) with the value 15.
const Bytes kWriteRow7 = {0x10, 0x01, 0x10, 0x1F, 0x14, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x35, 0x32, 0x09,
                          0x30, 0x32, 0x09, 0x31, 0x0C, 0x09, 0x31, 0x35, 0x0C, 0x10, 0x03, 0xF4, 0xB7};

std::string Data(const Bytes& frame) {  // between DLE STX and DLE ETX
    return std::string(frame.begin() + 7, frame.end() - 4);
}

struct Adapter {
    FakeHost host;
    sim::Engine engine{host, sim::Options{}};
    Bytes Ask(const Bytes& request) {
        Feed(engine, request);
        return Drain(engine);
    }
};

TEST(SimulatedAdapter, AnswersEachPlainReadStepByteForByte) {
    Adapter a;
    const Bytes answers[5] = {
        {0x10, 0x01, 0x10, 0x1F, 0x03, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30,
         0x30, 0x33, 0x0C, 0x09, 0x32, 0x0C, 0x10, 0x03, 0x3E, 0x2F},
        {0x10, 0x01, 0x10, 0x1F, 0x03, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30,
         0x30, 0x36, 0x0C, 0x09, 0x31, 0x37, 0x0C, 0x10, 0x03, 0x3C, 0x46},
        {0x10, 0x01, 0x10, 0x1F, 0x03, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39,
         0x39, 0x0C, 0x09, 0x33, 0x2E, 0x30, 0x35, 0x0C, 0x10, 0x03, 0x65, 0xE6},
        {0x10, 0x01, 0x10, 0x1F, 0x14, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39, 0x39, 0x09, 0x31, 0x09,
         0x30, 0x30, 0x31, 0x0C, 0x09, 0x31, 0x32, 0x30, 0x37, 0x09, 0x0C, 0x10, 0x03, 0xD6, 0x75},
        {0x10, 0x01, 0x10, 0x1F, 0x14, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39, 0x39, 0x09, 0x32,
         0x09, 0x30, 0x30, 0x31, 0x0C, 0x09, 0x34, 0x32, 0x09, 0x0C, 0x10, 0x03, 0x23, 0x72},
    };
    for (int step = 0; step < 5; ++step) EXPECT_EQ(a.Ask(kStep[step]), answers[step]) << "step " << step;
    EXPECT_TRUE(a.host.Logged(
        "RX speed=9600 fn=1D hex=10 01 10 1F 1D 10 02 09 30 09 30 30 33 0C 10 03 C5 15 | read 003"));
    EXPECT_TRUE(a.host.Logged("TX fn=03 hex=10 01 10 1F 03"));
}

TEST(SimulatedAdapter, AnswersThePollingArrayWithAllElementsAndOemUnits) {
    Adapter a;
    const Bytes answer = a.Ask(kStep[5]);
    ASSERT_GT(answer.size(), 11u);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 7), (Bytes{0x10, 0x01, 0x10, 0x1F, 0x14, 0x10, 0x02}));
    EXPECT_EQ(adapter::Crc16Xmodem(answer.data() + 2, static_cast<uint16_t>(answer.size() - 2)), 0);

    const std::string data = Data(answer);
    const std::string head = "\t0\t052\t0\t099\x0C";
    ASSERT_EQ(data.compare(0, head.size(), head), 0) << data;
    // The polling period in ms ("мс" in code page 866), then 98 tasks, each HT value HT unit FF.
    const std::string first = "\t500\t\xAC\xE1\x0C";
    EXPECT_EQ(data.compare(head.size(), first.size(), first), 0);
    int items = 0, fields = 0;
    for (std::size_t i = head.size(); i < data.size(); ++i) {
        if (data[i] == '\t') ++fields;
        if (data[i] == '\x0C') ++items;
    }
    EXPECT_EQ(items, 99);
    EXPECT_EQ(fields, 2 * 99);
    EXPECT_EQ(data.back(), '\x0C');
}

TEST(SimulatedAdapter, CutsArrayReadsToTheElementsItHolds) {
    Adapter a;
    // 099 holds elements 0 to 2: from 2, five asked, one sent, and the head counts one.
    Bytes answer = a.Ask(sim::BuildFrame(0x0C, "\t0\t099\t2\t005\x0C"));
    EXPECT_EQ(Data(answer), "\t0\t099\t2\t001\x0C\t42\t\x0C");
    answer = a.Ask(sim::BuildFrame(0x0C, "\t0\t052\t97\t010\x0C"));
    EXPECT_EQ(Data(answer).compare(0, 14, "\t0\t052\t97\t002\x0C"), 0);
    answer = a.Ask(sim::BuildFrame(0x0C, "\t0\t099\t7\t001\x0C"));
    EXPECT_EQ(Data(answer), "\t0\t099\t7\t000\x0C");
}

TEST(SimulatedAdapter, StoresAcceptedWritesAndRepliesWithTheWrittenHead) {
    Adapter a;
    EXPECT_EQ(a.Ask(kWriteRow7),
              (Bytes{0x10, 0x01, 0x10, 0x1F, 0x7F, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x35, 0x32,
                     0x09, 0x30, 0x32, 0x09, 0x31, 0x0C, 0x09, 0x0C, 0x10, 0x03, 0x96, 0x40}));
    EXPECT_EQ(Data(a.Ask(sim::BuildFrame(0x0C, "\t0\t052\t2\t001\x0C"))),
              "\t0\t052\t2\t001\x0C\t15\t\xE8\xE2\x0C");

    EXPECT_EQ(a.Ask(sim::BuildFrame(0x03, "\t0\t003\x0C\t7\x0C")),
              (Bytes{0x10, 0x01, 0x10, 0x1F, 0x7F, 0x10, 0x02, 0x09, 0x30, 0x09,
                     0x30, 0x30, 0x33, 0x0C, 0x09, 0x0C, 0x10, 0x03, 0x1C, 0x76}));
    EXPECT_EQ(Data(a.Ask(kStep[0])), "\t0\t003\x0C\t7\x0C");

    // Row 2 writes element 0 of 099 indexed; the plain read gives it back.
    EXPECT_EQ(Data(a.Ask(sim::BuildFrame(0x14, "\t0\t099\t00\t1\x0C\t4.00\x0C"))),
              "\t0\t099\t00\t1\x0C\t\x0C");
    EXPECT_EQ(Data(a.Ask(kStep[2])), "\t0\t099\x0C\t4.00\x0C");
}

TEST(SimulatedAdapter, RefusesWritesWithATextAndKeepsTheValue) {
    FakeHost host;
    sim::Options opt;
    opt.refusal = sim::Utf8ToCp866(u8"Запрещено");
    sim::Engine e(host, opt);
    Feed(e, kWriteRow7);
    // The text (866) is the item's value, as the data syntax lays an item out ...
    const std::string text = "\x87\xA0\xAF\xE0\xA5\xE9\xA5\xAD\xAE";
    EXPECT_EQ(Data(Drain(e)), "\t0\t052\t02\t1\x0C\t" + text + "\x0C");
    // ... or, on request, behind an empty value.
    EXPECT_EQ(e.Command("refuse-layout empty-value", 0), "OK refuse-layout empty-value");
    Feed(e, kWriteRow7);
    EXPECT_EQ(Data(Drain(e)), "\t0\t052\t02\t1\x0C\t\t" + text + "\x0C");
    EXPECT_EQ(e.Command("refuse-layout plain", 0), "OK refuse-layout plain");
    Feed(e, sim::BuildFrame(0x0C, "\t0\t052\t2\t001\x0C"));
    EXPECT_EQ(Data(Drain(e)), "\t0\t052\t2\t001\x0C\t2\t\xE8\xE2\x0C");

    // Control bytes in the refusal would tear the frame.
    EXPECT_EQ(e.Command("refuse a\x10"
                        "b",
                        0),
              "OK refuse a\x10"
              "b");
    Feed(e, sim::BuildFrame(0x03, "\t0\t006\x0C\t1\x0C"));
    EXPECT_EQ(Data(Drain(e)), "\t0\t006\x0C\ta?b\x0C");

    // Values the adapter could not send back whole are refused by the adapter itself.
    EXPECT_EQ(e.Command("refuse off", 0), "OK refuse off");
    const std::string own = "\t" + sim::Utf8ToCp866(u8"Недопустимое значение") + "\x0C";
    Feed(e, sim::BuildFrame(0x03, "\t0\t006\x0C\t" + std::string(46, '9') + "\x0C"));
    EXPECT_EQ(Data(Drain(e)), "\t0\t006\x0C" + own);
    Feed(e, sim::BuildFrame(0x03,
                            "\t0\t006\x0C\t1\x01"
                            "2\x0C"));
    EXPECT_EQ(Data(Drain(e)), "\t0\t006\x0C" + own);
    Feed(e, kStep[1]);
    EXPECT_EQ(Data(Drain(e)), "\t0\t006\x0C\t17\x0C");
    Feed(e, sim::BuildFrame(0x03, "\t0\t006\x0C\t" + std::string(45, '9') + "\x0C"));
    EXPECT_EQ(Data(Drain(e)), "\t0\t006\x0C\t\x0C");
}

TEST(SimulatedAdapter, LeavesRequestsItCannotServeUnanswered) {
    Adapter a;
    const std::pair<uint8_t, std::string> requests[] = {
        {0x1D, "\t1\t003\x0C"},                // channel 1
        {0x1D, "\t\t003\x0C"},                 // empty channel
        {0x1D, "\t0\t007\x0C"},                // parameter not held
        {0x1D, "\t0\t052\x0C"},                // indexed parameter read plain
        {0x0C, "\t0\t003\t0\t001\x0C"},        // plain parameter read as an array
        {0x0C, "\t0\t052\t0\x0C"},             // array head cut short
        {0x14, "\t0\t052\t99\t1\x0C\t5\x0C"},  // element 99 of 052 does not exist
        {0x14, "\t0\t052\t03\t2\x0C\t5\x0C"},  // count 2, one item
        {0x03, "\t0\t003\x0C"},                // write without a value
        {0x03, "\t0\t0x3\x0C\t1\x0C"},         // not a number
        {0x55, "\t0\t003\x0C"},                // unknown function
        {0x1D, "0\t003\x0C"},                  // data not in fields
    };
    for (const auto& r : requests) EXPECT_TRUE(a.Ask(sim::BuildFrame(r.first, r.second)).empty()) << r.second;
    EXPECT_EQ(a.engine.GetStats().unanswered, static_cast<long>(std::size(requests)));
    EXPECT_EQ(Data(a.Ask(kStep[3])), "\t0\t099\t1\t001\x0C\t1207\t\x0C");
}

TEST(SimulatedAdapter, ConvertsUtf8TextsToTheOemCodePage) {
    EXPECT_EQ(sim::Utf8ToCp866(u8"Аа Пп Рр Яя Ёё №5"),
              "\x80\xA0 \x8F\xAF \x90\xE0 \x9F\xEF \xF0\xF1 \xFC"
              "5");
    EXPECT_EQ(sim::Utf8ToCp866(u8"ok €"), "ok ?");
    // Broken sequences: one '?' per byte that does not start a whole character.
    EXPECT_EQ(sim::Utf8ToCp866("a\xD0"), "a?");
    EXPECT_EQ(sim::Utf8ToCp866("\xD0"
                               "b"),
              "?b");
    EXPECT_EQ(sim::Utf8ToCp866("\xFF\x80"), "??");
}

}  // namespace
