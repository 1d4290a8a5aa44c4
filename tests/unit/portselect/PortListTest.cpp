// Filling the port list and PortTable from the two registry lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "portselect/PortList.h"
#include "portselect/Selection.h"

using namespace portselect;

namespace {

// A registry list as a script: one entry per index, then the end.
class ScriptedSource : public PortSource {
  public:
    struct Entry {
        PortSourceResult result;
        std::string name;
    };
    explicit ScriptedSource(std::vector<Entry> entries) : entries_(std::move(entries)) {}
    static ScriptedSource Names(const std::vector<std::string>& names) {
        std::vector<Entry> e;
        for (const auto& n : names) e.push_back({SOURCE_NAME, n});
        return ScriptedSource(e);
    }

    PortSourceResult PortNameAt(uint32_t index, char* name, uint32_t size) override {
        EXPECT_EQ(size, PORT_NAME_BUFFER);
        asked.push_back(index);
        if (index >= entries_.size()) return SOURCE_END;
        const Entry& e = entries_[index];
        if (e.result == SOURCE_NAME) {
            // As the registry does: the bytes stored, with no terminator promised.
            std::memcpy(name, e.name.data(), std::min<size_t>(e.name.size() + 1, size));
        }
        return e.result;
    }
    std::vector<uint32_t> asked;

  private:
    std::vector<Entry> entries_;
};

class PortListFill : public ::testing::Test {
  protected:
    void SetUp() override {
        selection.SelectedSpeedIndex = 3;
        for (int32_t& e : table) e = 77;  // whatever the last run left
    }
    PortPreselection Fill(ScriptedSource first, ScriptedSource second = ScriptedSource({})) {
        return FillPortList(first, second, list, table, selection);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (int i = 0; i < list.GetCount(); ++i) {
            char buffer[64];
            list.GetText(i, buffer, sizeof buffer);
            texts.push_back(buffer);
        }
        return texts;
    }
    std::vector<int32_t> Table(int n) const { return std::vector<int32_t>(table, table + n); }
    // Position k of the list names the port in PortTable[k], by text and by item data.
    void ExpectListAndTableInStep() const {
        for (int k = 0; k < list.GetCount() && k < PORT_TABLE_SIZE; ++k) {
            EXPECT_EQ(static_cast<int32_t>(list.GetItemData(k)), table[k]) << k;
            if (table[k] == 0) continue;
            char text[64], expected[16];
            list.GetText(k, text, sizeof text);
            std::snprintf(expected, sizeof expected, "COM%02d", table[k]);
            EXPECT_STREQ(text, expected) << k;
        }
    }

    SortedPortList list;
    PortTable table;
    Selection selection;
};

TEST_F(PortListFill, ConfiguratorListEndsWithItsNotChosenEntry) {
    list.AddString("не выбран");
    const PortPreselection p = Fill(ScriptedSource::Names({"COM1", "COM2"}));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"COM01", "COM02", "не выбран"}));
    EXPECT_EQ(Table(4), (std::vector<int32_t>{1, 2, 0, 0}));
    EXPECT_EQ(p.port, 2);
    EXPECT_EQ(p.speed, 3);
    ExpectListAndTableInStep();

    // An earlier choice wins, even one beyond the list (the dialog then shows none).
    for (int32_t chosen : {1, 40}) {
        selection.SelectedPortIndex = chosen;
        SortedPortList again;
        ScriptedSource first = ScriptedSource::Names({"COM1", "COM2"}), second({});
        EXPECT_EQ(FillPortList(first, second, again, table, selection).port, chosen);
    }
}

TEST_F(PortListFill, NoPortLeavesAnEmptyTable) {
    const PortPreselection p = Fill(ScriptedSource({}), ScriptedSource({}));
    EXPECT_EQ(Table(PORT_TABLE_SIZE), std::vector<int32_t>(PORT_TABLE_SIZE, 0));
    EXPECT_EQ(p.port, NO_PORT_POSITION);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(PortListFill, PortInBothSourcesIsListedOnce) {
    const PortPreselection p =
        Fill(ScriptedSource::Names({"COM3", "COM1"}), ScriptedSource::Names({"COM3", "COM5"}));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"COM01", "COM03", "COM05"}));
    EXPECT_EQ(Table(4), (std::vector<int32_t>{1, 3, 5, 0}));
    EXPECT_EQ(p.port, 3);
    ExpectListAndTableInStep();
}

TEST_F(PortListFill, LaterSmallerPortStillPreselectsAfterTheComEntries) {
    list.AddString("не выбран");
    const PortPreselection p = Fill(ScriptedSource::Names({"COM10", "COM2"}));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"COM02", "COM10", "не выбран"}));
    EXPECT_EQ(Table(3), (std::vector<int32_t>{2, 10, 0}));
    EXPECT_EQ(p.port, 2);
}

TEST_F(PortListFill, OnlyCapitalComWithANumberIsListed) {
    // The last name fills all 50 bytes with no terminator and a number far too large.
    const std::string unterminated = "COM1" + std::string(46, '9');
    Fill(ScriptedSource::Names({"com4", "COM", "COMx", "LPT1", "Com9", "COM0", "COM-3", "COM70000", "COM 7",
                                "COM8abc", "COM65535", unterminated}));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"COM07", "COM08", "COM65535"}));
    EXPECT_EQ(Table(4), (std::vector<int32_t>{7, 8, 65535, 0}));
}

TEST_F(PortListFill, EndStopsASourceAndSkipPassesOneEntry) {
    ScriptedSource first({{SOURCE_NAME, "COM1"}, {SOURCE_END, ""}, {SOURCE_NAME, "COM2"}});
    ScriptedSource second({{SOURCE_SKIP, ""}, {SOURCE_NAME, "COM4"}});
    FillPortList(first, second, list, table, selection);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"COM01", "COM04"}));
    EXPECT_EQ(first.asked, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(second.asked, (std::vector<uint32_t>{0, 1, 2}));
}

TEST_F(PortListFill, FirstSixtyFourPortsAreKept) {
    std::vector<std::string> names;
    for (int port = 70; port >= 1; --port) names.push_back("COM" + std::to_string(port));
    const PortPreselection p = Fill(ScriptedSource::Names(names), ScriptedSource::Names({"COM3", "COM99"}));
    ASSERT_EQ(list.GetCount(), PORT_TABLE_SIZE);
    for (int k = 0; k < PORT_TABLE_SIZE; ++k) EXPECT_EQ(table[k], k + 7) << k;
    EXPECT_EQ(p.port, PORT_TABLE_SIZE);
    ExpectListAndTableInStep();
}

TEST_F(PortListFill, PortsAbove99KeepListAndTableInStep) {
    list.AddString("не выбран");
    const PortPreselection p = Fill(ScriptedSource::Names({"COM100", "COM2", "COM11"}),
                                    ScriptedSource::Names({"COM10", "COM101", "COM9"}));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"COM02", "COM09", "COM10", "COM100", "COM101", "COM11",
                                                 "не выбран"}));
    EXPECT_EQ(Table(7), (std::vector<int32_t>{2, 9, 10, 100, 101, 11, 0}));
    EXPECT_EQ(p.port, 6);
    ExpectListAndTableInStep();
}

TEST(SortedPortList, SortsLikeTheComboBoxIgnoringCase) {
    SortedPortList list;
    EXPECT_EQ(list.AddString("COM10"), 0);
    EXPECT_EQ(list.AddString("не выбран"), 1);
    EXPECT_EQ(list.AddString("com02"), 0);
    EXPECT_EQ(list.AddString("Не выбран"), 3);  // equal texts: after the ones there
    EXPECT_EQ(list.AddString("COM100"), 2);
    list.SetItemData(2, 100);
    EXPECT_EQ(list.GetItemData(2), 100u);
    EXPECT_EQ(list.GetItemData(0), 0u);
    char cut[4];
    EXPECT_EQ(list.GetText(2, cut, sizeof cut), 6);
    EXPECT_STREQ(cut, "COM");
    EXPECT_LT(SortedPortList::CompareText("я", "Я1"), 0);
}

}  // namespace
