// The configurator's own link core talking to the simulated adapter, without a port: its requests
// are taken from its send block, the answers put into its receive chunk.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "adapter/AdapterLink.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/unit/adapter/FrameTestSupport.h"
#include "tests/unit/simulator/SimTestSupport.h"

namespace {

using simtest::Bytes;
using simtest::Drain;
using simtest::FakeHost;

class Table : public adapter::ParamTable {
  public:
    static constexpr int kRows = 104;
    std::string text[kRows][5];
    int mark[kRows] = {};

    int RowCount() const override { return kRows; }
    int GetText(int row, int column, char* buffer, int size) const override {
        const std::string& t = text[row][column];
        std::snprintf(buffer, static_cast<std::size_t>(size), "%s", t.c_str());
        return static_cast<int>(t.size());
    }
    void SetText(int row, int column, const char* t) override { text[row][column] = t; }
    void SetMark(int row, int m) override { mark[row] = m; }
};

struct Talk {
    Table table;
    adapter_test::QuietHost host;
    // No port is open: the link fills its send block and the driver sends nothing.
    krt_test::FakeSerialApi api;
    serial::ComDriver driver{serial::ComVariant::Configurator, api};
    portselect::Selection selection;
    std::unique_ptr<adapter::AdapterLink> link =
        std::make_unique<adapter::AdapterLink>(host, &table, driver, selection);
    FakeHost simHost;
    sim::Engine adapterSim{simHost, sim::Options{}};

    Talk() {
        for (int row = 2; row < Table::kRows; ++row) {
            char index[8];
            std::snprintf(index, sizeof index, "%02d", row < 5 ? row - 2 : row - 5);
            table.text[row][adapter::COL_INDEX] = index;
        }
    }

    // The request last put in the send block goes to the adapter; its answer comes back as one
    // driver read and is handled as the window handles CM_RECEIVED. False without an answer.
    bool Exchange() {
        const Bytes request(link->state.SendBlock.data,
                            link->state.SendBlock.data + link->state.SendBlock.length);
        simtest::Feed(adapterSim, request);
        const Bytes answer = Drain(adapterSim);
        if (answer.empty()) return false;
        std::copy(answer.begin(), answer.end(), link->state.RxChunk);
        link->state.RxCount = static_cast<int32_t>(answer.size());
        link->state.RxPending = 1;
        link->HandleLinkMessage(adapter::CM_RECEIVED);
        return true;
    }
};

TEST(ConfiguratorTalk, AFullReadFillsEveryRow) {
    auto t = std::make_unique<Talk>();
    t->link->StartParameterRead();
    for (int step = 0; step < 6; ++step) ASSERT_TRUE(t->Exchange()) << "step " << step;
    EXPECT_EQ(t->link->state.ParamIndex, -1);

    const Table& tb = t->table;
    EXPECT_EQ(tb.text[0][adapter::COL_VALUE], "2");
    EXPECT_EQ(tb.text[1][adapter::COL_VALUE], "17");
    EXPECT_EQ(tb.text[2][adapter::COL_VALUE], "3.05");
    EXPECT_EQ(tb.text[3][adapter::COL_VALUE], "1207");
    EXPECT_EQ(tb.text[4][adapter::COL_VALUE], "42");
    // Units arrive in 866 and are shown in 1251 (these literals are compiled as 1251).
    EXPECT_EQ(tb.text[5][adapter::COL_VALUE], "500");
    EXPECT_EQ(tb.text[5][adapter::COL_UNITS], "мс");
    EXPECT_EQ(tb.text[6][adapter::COL_VALUE], "5");
    EXPECT_EQ(tb.text[6][adapter::COL_UNITS], "сек");
    EXPECT_EQ(tb.text[103][adapter::COL_VALUE], "0");
    EXPECT_EQ(tb.text[103][adapter::COL_UNITS], "шт");
    for (int row = 0; row < Table::kRows; ++row) {
        EXPECT_EQ(tb.mark[row], adapter::MARK_BLANK) << row;
        EXPECT_FALSE(tb.text[row][adapter::COL_VALUE].empty()) << row;
    }
}

TEST(ConfiguratorTalk, WritesAreAcknowledgedOrRefusedWithTheAdaptersText) {
    auto t = std::make_unique<Talk>();
    Table& tb = t->table;
    tb.text[7][adapter::COL_VALUE] = "15";
    tb.mark[7] = adapter::MARK_PENDING;
    ASSERT_TRUE(t->link->exchange.WriteParameter(7));
    ASSERT_TRUE(t->Exchange());
    EXPECT_EQ(tb.mark[7], adapter::MARK_BLANK);
    EXPECT_EQ(tb.text[7][adapter::COL_VALUE], "15");

    tb.text[1][adapter::COL_VALUE] = "99";
    ASSERT_TRUE(t->link->exchange.WriteParameter(1));
    ASSERT_TRUE(t->Exchange());
    EXPECT_EQ(tb.mark[1], adapter::MARK_BLANK);

    EXPECT_EQ(t->adapterSim.Command(u8"refuse Занято", 0).compare(0, 9, "OK refuse"), 0);
    tb.text[20][adapter::COL_VALUE] = "7";
    tb.mark[20] = adapter::MARK_PENDING;
    ASSERT_TRUE(t->link->exchange.WriteParameter(20));
    ASSERT_TRUE(t->Exchange());
    EXPECT_EQ(tb.mark[20], adapter::MARK_ERROR);
    EXPECT_EQ(tb.text[20][adapter::COL_VALUE], "Занято");

    // What the adapter stored, a new read shows.
    tb.text[7][adapter::COL_VALUE].clear();
    t->link->StartParameterRead();
    for (int step = 0; step < 6; ++step) ASSERT_TRUE(t->Exchange());
    EXPECT_EQ(tb.text[1][adapter::COL_VALUE], "99");
    EXPECT_EQ(tb.text[7][adapter::COL_VALUE], "15");
    EXPECT_EQ(tb.text[20][adapter::COL_VALUE], "0");
}

// What the configurator makes of two of the simulator's faults: neither costs it a time-out, and
// rows stay empty all the same.
TEST(ConfiguratorTalk, ShortArraysAndRepeatedAnswersLeaveRowsUnreadWithoutATimeOut) {
    auto t = std::make_unique<Talk>();
    ASSERT_EQ(t->adapterSim.Command("short-array 50", 0), "OK short-array 50");
    t->link->StartParameterRead();
    for (int step = 0; step < 6; ++step) ASSERT_TRUE(t->Exchange()) << "step " << step;
    EXPECT_EQ(t->link->state.ParamIndex, -1);
    for (int row = 5; row < Table::kRows; ++row)
        EXPECT_EQ(t->table.text[row][adapter::COL_VALUE].empty(), row >= 5 + 50) << row;

    // The stale copy comes first in each chunk, so every step takes the answer of the step
    // before it, and the polling array is never taken at all.
    t = std::make_unique<Talk>();
    ASSERT_EQ(t->adapterSim.Command("repeat-previous on", 0), "OK repeat-previous on");
    t->link->StartParameterRead();
    for (int step = 0; step < 6; ++step) ASSERT_TRUE(t->Exchange()) << "step " << step;
    EXPECT_EQ(t->link->state.ParamIndex, -1);
    EXPECT_EQ(t->table.text[4][adapter::COL_VALUE], "42");
    for (int row = 5; row < Table::kRows; ++row)
        EXPECT_TRUE(t->table.text[row][adapter::COL_VALUE].empty()) << row;
}

}  // namespace
