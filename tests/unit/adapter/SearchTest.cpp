// The speed search: its steps and texts on a silent line, a line with an adapter at 9600, and
// what happens once it has given up.
#include <gtest/gtest.h>

#include "portselect/Selection.h"
#include "tests/unit/adapter/LinkRig.h"

namespace adapter_test {
namespace {

using namespace adapter;

const Bytes kProbeOnWire = {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30,
                            0x09, 0x30, 0x30, 0x33, 0x0C, 0x10, 0x03, 0xC5, 0x15};

Bytes Answer003(const std::string& value) {
    return WireFrame(FN_PARAM_VALUE, "\t0\t003\x0C\t" + value + "\x0C");
}

TEST(AdapterSearch, AdapterAt9600IsFoundAfterTheSlowerSpeeds) {
    LinkRig rig;
    rig.adapter = [&](const Request& r) {
        if (r.speed == 9600 && r.frame == kProbeOnWire) rig.Answer(Answer003("0000000042"));
    };
    rig.link->StartAdapterSearch();
    rig.Settle();
    ASSERT_TRUE(rig.TickUntil([&] { return rig.link->state.TimeoutState == Idle; }, 1000));

    const std::vector<std::string> expected = {
        "Порт выбран", "Поиск на скорости 1200", "Адаптера нет...",
        "Порт выбран", "Поиск на скорости 2400", "Адаптера нет...",
        "Порт выбран", "Поиск на скорости 4800", "Адаптера нет...",
        "Порт выбран", "Поиск на скорости 9600", "Подключение на COM3 (9600)",
    };
    EXPECT_EQ(rig.host.status[1], expected);

    // One probe per speed, each sent after the port was opened at that speed.
    ASSERT_EQ(rig.Requests().size(), 4u);
    const uint32_t speeds[] = {1200, 2400, 4800, 9600};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Hex(rig.Requests()[i].frame), Hex(kProbeOnWire)) << i;
        EXPECT_EQ(rig.Requests()[i].speed, speeds[i]) << i;
    }
    EXPECT_EQ(rig.api.OpenCalls(), std::vector<unsigned>({3, 3, 3, 3}));
    const auto lines = rig.api.LineSettingsSet();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().byteSize, 8);
    EXPECT_EQ(lines.back().parity, serial::Parity::None);
    EXPECT_EQ(lines.back().stopBits, serial::StopBits::One);

    EXPECT_TRUE(rig.host.readButton);
    EXPECT_TRUE(rig.host.portButton);
    EXPECT_EQ(rig.selection.SelectedSpeedIndex, 5);
    EXPECT_EQ(rig.link->state.LineSpeed, 9600);
    EXPECT_EQ(rig.link->state.TimeoutTicks, 0);
    // The probe's answer is decoded like any answer, and no read starts by itself.
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "0000000042");
    EXPECT_EQ(rig.link->state.ParamIndex, -1);
    rig.Ticks(200);
    EXPECT_EQ(rig.Requests().size(), 4u);
}

TEST(AdapterSearch, SilentLineWalksEverySpeedThenGivesUpAtFourThousandEightHundred) {
    LinkRig rig;
    rig.host.readButton = true;  // left enabled by an earlier connection
    rig.link->StartAdapterSearch();
    rig.Settle();
    EXPECT_EQ(rig.selection.SelectedSpeedIndex, 2);
    EXPECT_EQ(rig.link->state.TimeoutState, Search1200);
    EXPECT_EQ(rig.link->state.TimeoutTicks, 100);

    rig.Ticks(520);

    // Posted at the tick its countdown ran out: 2 s, 1.5 s twice, then 1 s each; 10 s in all.
    const std::vector<std::pair<int, uint32_t>> expected = {
        {100, CM_SEARCH_2400},  {175, CM_SEARCH_4800},  {250, CM_SEARCH_9600},   {300, CM_SEARCH_19200},
        {350, CM_SEARCH_38400}, {400, CM_SEARCH_57600}, {450, CM_SEARCH_115200}, {500, CM_SEARCH_FAILED},
    };
    EXPECT_EQ(rig.host.delivered, expected);

    const uint32_t speeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 4800};
    ASSERT_EQ(rig.Requests().size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(rig.Requests()[i].frame, kProbeOnWire) << i;
        EXPECT_EQ(rig.Requests()[i].speed, speeds[i]) << i;
    }
    // The search's verdict is the last word, not the reopen's "Порт выбран".
    const std::vector<std::string> tail = {"Адаптера нет...", "Порт выбран", "Поиск на скорости 115200",
                                           "Адаптера нет...", "Порт выбран", "Адаптера нет..."};
    ASSERT_GE(rig.host.status[1].size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(rig.host.status[1].end() - 6, rig.host.status[1].end()), tail);

    EXPECT_TRUE(rig.api.IsOpen(LinkRig::kPort));
    EXPECT_EQ(rig.api.PortSettings(LinkRig::kPort).baudRate, 4800u);
    EXPECT_EQ(rig.link->state.LineSpeed, 4800);
    EXPECT_EQ(rig.selection.SelectedSpeedIndex, 4);
    EXPECT_EQ(rig.link->state.TimeoutState, Idle);
    EXPECT_FALSE(rig.host.readButton);
    EXPECT_TRUE(rig.host.portButton);

    // An answer long after the search still counts as the connection.
    rig.Ticks(300);
    EXPECT_TRUE(rig.host.posted.empty());
    rig.Answer(Answer003("7"));
    rig.Tick();
    EXPECT_EQ(rig.host.LastStatus(1), "Подключение на COM3 (4800)");
    EXPECT_TRUE(rig.host.readButton);
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "7");
}

TEST(AdapterSearch, BadFramesDoNotCountAndTheCountdownGoesOn) {
    LinkRig rig;
    rig.link->StartAdapterSearch();
    rig.Settle();
    Bytes bad = Answer003("1");
    bad.back() ^= 0x01;
    rig.Ticks(10);
    rig.Answer(bad);
    rig.Ticks(89);
    EXPECT_TRUE(rig.host.delivered.size() == 1 && rig.host.delivered[0].second == CM_RECEIVED);
    EXPECT_EQ(rig.link->state.RxPending, 0);
    rig.Tick();
    EXPECT_EQ(rig.host.delivered.back(), std::make_pair(100, static_cast<uint32_t>(CM_SEARCH_2400)));
    EXPECT_STREQ(rig.table->Text(0, COL_VALUE), "0000000000");
}

TEST(AdapterSearch, PortOutcomesAndPositionsOutsideTheTable) {
    {
        // An empty entry opens nothing; the search still runs its course.
        LinkRig rig;
        rig.link->state.PortTable[1] = 0;
        rig.link->StartAdapterSearch();
        rig.Settle();
        EXPECT_EQ(rig.host.status[1], std::vector<std::string>({"Порт выбран", "Поиск на скорости 1200"}));
        EXPECT_TRUE(rig.api.OpenCalls().empty());
        rig.Ticks(500);
        EXPECT_EQ(rig.host.delivered.back().second, CM_SEARCH_FAILED);
    }
    {
        LinkRig rig;
        rig.api.FailOpen(LinkRig::kPort);
        EXPECT_EQ(rig.link->search.OpenPortAt(2400), 3);
        EXPECT_EQ(rig.host.status[1],
                  std::vector<std::string>({"Порт выбран", "Нет подключения к COM-порту"}));
        EXPECT_EQ(rig.link->state.LineSpeed, 2400);
        // A search that ends on a port that will not open leaves that news on show.
        rig.host.status[1].clear();
        rig.link->HandleLinkMessage(CM_SEARCH_FAILED);
        EXPECT_EQ(rig.host.status[1], std::vector<std::string>(
                                          {"Адаптера нет...", "Порт выбран", "Нет подключения к COM-порту"}));
    }
    for (int32_t index : {-1, 64, 1000, -5}) {
        // Never looked up: the position counts as no port at all.
        LinkRig rig;
        rig.selection.SelectedPortIndex = index;
        rig.link->StartAdapterSearch();
        rig.Settle();
        EXPECT_TRUE(rig.api.OpenCalls().empty()) << index;
        EXPECT_EQ(rig.link->state.OpenParams.port, 0) << index;
    }
    {
        // A number that does not fit the open block never wraps onto a real port.
        LinkRig rig;
        rig.link->state.PortTable[1] = 65536 + 3;
        rig.link->search.OpenPortAt(1200);
        EXPECT_TRUE(rig.api.OpenCalls().empty());
    }
}

TEST(AdapterSearch, AFailedOpenIsReportedToTheHostWithItsResult) {
    {
        // A port that is missing (or held by another program) fails at every step of the search.
        LinkRig rig;
        rig.api.FailOpen(LinkRig::kPort);
        rig.link->StartAdapterSearch();
        rig.Settle();
        EXPECT_EQ(rig.host.openFailures, std::vector<serial::ComResult>({serial::COM_NOT_OPENED}));
        rig.Ticks(100);
        EXPECT_EQ(rig.host.openFailures,
                  std::vector<serial::ComResult>({serial::COM_NOT_OPENED, serial::COM_NOT_OPENED}));
    }
    {
        // A port that opens without a stop event is given back: a failure, though no text says so.
        LinkRig rig;
        rig.api.RefuseStopEvent(true);
        EXPECT_EQ(rig.link->search.OpenPortAt(9600), serial::COM_NOT_USABLE);
        EXPECT_EQ(rig.host.openFailures, std::vector<serial::ComResult>({serial::COM_NOT_USABLE}));
        EXPECT_EQ(rig.host.status[1], std::vector<std::string>({"Порт выбран"}));
    }
    {
        // A good open and "no port" are no failures.
        LinkRig rig;
        EXPECT_EQ(rig.link->search.OpenPortAt(9600), serial::COM_OK);
        rig.link->state.PortTable[1] = 0;
        EXPECT_EQ(rig.link->search.OpenPortAt(9600), serial::COM_OK);
        EXPECT_TRUE(rig.host.openFailures.empty());
    }
}

TEST(AdapterSearch, ReadStartedDuringTheSearchStopsIt) {
    LinkRig rig;
    rig.link->StartAdapterSearch();
    rig.Settle();
    rig.Ticks(120);  // now at 2400
    rig.link->StartParameterRead();
    rig.Settle();
    EXPECT_EQ(rig.link->state.TimeoutState, AwaitAnswer);
    rig.Ticks(100);
    EXPECT_EQ(rig.host.delivered.back().second, CM_NO_ANSWER);
    rig.Ticks(600);
    for (const auto& d : rig.host.delivered) EXPECT_NE(d.second, CM_SEARCH_4800);
    EXPECT_EQ(rig.link->state.LineSpeed, 2400);
}

TEST(AdapterSearch, OnlyLinkMessagesAreTaken) {
    LinkRig rig;
    for (uint32_t m : {0u, 0x0100u, 1123u, 1131u, 1138u, 1140u, 1143u}) {
        EXPECT_FALSE(rig.link->HandleLinkMessage(m)) << m;
    }
    EXPECT_TRUE(rig.host.status[1].empty());
}

}  // namespace
}  // namespace adapter_test
