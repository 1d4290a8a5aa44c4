// The table's start content and the settings file "Vantrel.i".
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "configurator/ConfiguratorSettings.h"
#include "configurator/ParameterTable.h"
#include "portselect/Selection.h"
#include "tests/unit/adapter/LinkRig.h"

namespace adapter_test {
namespace {

using namespace adapter;
using configurator::ConfiguratorSettings;
using configurator::ParameterTableModel;

TEST(ParameterTable, ColumnsAndStartRows) {
    const int widths[] = {73, 50, 90, 60, 225};
    const char* titles[] = {"Параметр", "Индекс", "Значение", "Единицы", " Наименование"};
    for (int c = 0; c < 5; ++c) {
        EXPECT_STREQ(configurator::ParamColumn(c).title, titles[c]);
        EXPECT_EQ(configurator::ParamColumn(c).width, widths[c]);
    }
    EXPECT_EQ(configurator::ParamColumn(5).title, nullptr);

    auto table = std::make_unique<ParameterTableModel>();
    ASSERT_EQ(table->RowCount(), 104);
    const char* heads[][4] = {
        {"  003", "00", "0000000000", "Спецификация внешнего оборудования"},
        {"  006", "00", "0000000000", "Идентификатор для радиообмена"},
        {"  099", "00", "0000000000", "Версия адаптера"},
        {"  099", "01", "0000000000", "Номер адаптера"},
        {"  099", "02", "0000000000", "Код платы"},
        {"  052", "00", "00", "Периодичность опроса"},
    };
    for (int row = 0; row < 6; ++row) {
        EXPECT_STREQ(table->Text(row, COL_PARAMETER), heads[row][0]) << row;
        EXPECT_STREQ(table->Text(row, COL_INDEX), heads[row][1]) << row;
        EXPECT_STREQ(table->Text(row, COL_VALUE), heads[row][2]) << row;
        EXPECT_STREQ(table->Text(row, COL_NAME), heads[row][3]) << row;
    }
    for (int row = 6; row < 104; ++row) {
        char index[16];
        std::snprintf(index, sizeof index, "%02d", row - 5);
        EXPECT_STREQ(table->Text(row, COL_PARAMETER), "  052") << row;
        EXPECT_STREQ(table->Text(row, COL_INDEX), index) << row;
        EXPECT_STREQ(table->Text(row, COL_VALUE), "0000000000") << row;
        EXPECT_STREQ(table->Text(row, COL_NAME),
                     (row - 5) % 2 ? "Задание на чтение параметра" : "Задание на запись параметра")
            << row;
    }
    for (int row = 0; row < 104; ++row) {
        EXPECT_STREQ(table->Text(row, COL_UNITS), "") << row;
        EXPECT_EQ(table->Mark(row), MARK_BLANK) << row;
        for (int c = 0; c < 5; ++c) EXPECT_STREQ(table->Text(row, c), configurator::StartCellText(row, c));
    }
    EXPECT_STREQ(configurator::StartCellText(104, COL_NAME), "");
}

TEST(ParameterTable, CellsCutToSizeAndAccessOutsideIsHarmless) {
    auto table = std::make_unique<ParameterTableModel>();
    const std::string huge(ParameterTableModel::VALUE_ROOM + 100, 'v');
    table->SetText(3, COL_VALUE, huge.c_str());
    EXPECT_EQ(std::strlen(table->Text(3, COL_VALUE)),
              static_cast<std::size_t>(ParameterTableModel::VALUE_ROOM - 1));
    char small[4];
    EXPECT_EQ(table->GetText(3, COL_VALUE, small, sizeof small), ParameterTableModel::VALUE_ROOM - 1);
    EXPECT_STREQ(small, "vvv");

    table->SetText(104, COL_VALUE, "x");
    table->SetText(-1, COL_VALUE, "x");
    table->SetText(0, 5, "x");
    table->SetMark(104, MARK_ERROR);
    EXPECT_EQ(table->GetText(200, 0, small, sizeof small), 0);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(table->Mark(104), -1);

    table->SetMark(9, MARK_PENDING);
    EXPECT_EQ(table->ItemData(9), 9);
    table->Reset();
    EXPECT_EQ(table->Mark(9), MARK_BLANK);
    EXPECT_STREQ(table->Text(3, COL_VALUE), "0000000000");
}

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = ::testing::TempDir() + "vantrel_settings_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".i";
        std::remove(path_.c_str());
    }
    void TearDown() override { std::remove(path_.c_str()); }

    void WriteBytes(const std::vector<uint8_t>& bytes) {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::vector<uint8_t> ReadBytes() {
        std::vector<uint8_t> bytes;
        std::FILE* f = std::fopen(path_.c_str(), "rb");
        if (f == nullptr) return bytes;
        int c;
        while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
        return bytes;
    }
    static void PutInt(std::vector<uint8_t>& bytes, int32_t v) {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(u >> (8 * i)));
    }
    static std::vector<uint8_t> Record(int32_t index, int32_t speed, std::vector<int32_t> ports) {
        std::vector<uint8_t> bytes;
        PutInt(bytes, index);
        PutInt(bytes, speed);
        ports.resize(64, 0);
        for (int32_t p : ports) PutInt(bytes, p);
        return bytes;
    }

    std::string path_;
};

TEST_F(SettingsFile, MissingFileKeepsTheDefaultsAndWritingGivesTheFullRecord) {
    ConfiguratorSettings s;
    EXPECT_FALSE(configurator::ReadSettingsFile(path_.c_str(), s));
    EXPECT_EQ(s.SelectedPortIndex, -1);
    EXPECT_EQ(s.LineSpeed, 4800);
    ASSERT_TRUE(configurator::WriteSettingsFile(path_.c_str(), s));
    EXPECT_EQ(ReadBytes(), Record(-1, 4800, {}));

    s.SelectedPortIndex = 2;
    s.LineSpeed = 115200;
    s.PortTable[0] = 1;
    s.PortTable[1] = 3;
    s.PortTable[63] = -2;
    ASSERT_TRUE(configurator::WriteSettingsFile(path_.c_str(), s));
    std::vector<int32_t> ports(64, 0);
    ports[0] = 1;
    ports[1] = 3;
    ports[63] = -2;
    EXPECT_EQ(ReadBytes(), Record(2, 115200, ports));
    EXPECT_FALSE(configurator::WriteSettingsFile((path_ + ".missing-dir/x").c_str(), s));
}

TEST_F(SettingsFile, ShortLongAndExactFilesFillWholeFieldsOnly) {
    ConfiguratorSettings s;
    WriteBytes({});
    EXPECT_TRUE(configurator::ReadSettingsFile(path_.c_str(), s));
    EXPECT_EQ(s.SelectedPortIndex, -1);
    EXPECT_EQ(s.LineSpeed, 4800);

    WriteBytes({2, 0, 0, 0, 0x80, 0x25, 0, 0, 9, 9});  // 8 bytes and half a field
    EXPECT_TRUE(configurator::ReadSettingsFile(path_.c_str(), s));
    EXPECT_EQ(s.SelectedPortIndex, 2);
    EXPECT_EQ(s.LineSpeed, 9600);
    EXPECT_EQ(s.PortTable[0], 0);

    std::vector<uint8_t> bytes = Record(2, 57600, {1, 3, 4});
    EXPECT_EQ(bytes.size(), 264u);
    WriteBytes(bytes);
    ConfiguratorSettings exact;
    EXPECT_TRUE(configurator::ReadSettingsFile(path_.c_str(), exact));
    EXPECT_EQ(exact.SelectedPortIndex, 2);
    EXPECT_EQ(exact.LineSpeed, 57600);
    EXPECT_EQ(exact.PortTable[2], 4);
    EXPECT_EQ(exact.PortTable[3], 0);

    bytes = Record(0, 1200, {7});
    bytes.resize(300, 0xEE);
    WriteBytes(bytes);
    ConfiguratorSettings longer;
    EXPECT_TRUE(configurator::ReadSettingsFile(path_.c_str(), longer));
    EXPECT_EQ(longer.SelectedPortIndex, 0);
    EXPECT_EQ(longer.PortTable[0], 7);
    EXPECT_EQ(longer.PortTable[63], 0);
}

TEST_F(SettingsFile, StoredPositionOutsideThePortTableReadsAsNoPort) {
    for (int32_t bad : {64, 65, 1000000, -2, INT32_MIN}) {
        WriteBytes(Record(bad, 9600, {5}));
        ConfiguratorSettings s;
        EXPECT_TRUE(configurator::ReadSettingsFile(path_.c_str(), s));
        EXPECT_EQ(s.SelectedPortIndex, -1) << bad;
        EXPECT_EQ(s.LineSpeed, 9600);
    }
    WriteBytes(Record(63, 9600, {5}));
    ConfiguratorSettings s;
    configurator::ReadSettingsFile(path_.c_str(), s);
    EXPECT_EQ(s.SelectedPortIndex, 63);
}

TEST_F(SettingsFile, ProgramSettingsRoundTripThroughTheLink) {
    LinkRig rig;
    WriteBytes(Record(2, 19200, {1, 3, 4}));
    rig.selection.SelectedPortIndex = -1;
    configurator::ReadSettings(rig.link->state, rig.selection, path_.c_str());
    EXPECT_EQ(rig.selection.SelectedPortIndex, 2);
    EXPECT_EQ(rig.link->state.LineSpeed, 19200);
    EXPECT_EQ(rig.link->state.PortTable[2], 4);

    std::remove(path_.c_str());
    configurator::WriteSettings(rig.link->state, rig.selection, path_.c_str());
    EXPECT_EQ(ReadBytes(), Record(2, 19200, {1, 3, 4}));

    // A short file keeps what the window had set before reading.
    WriteBytes({0xFF, 0xFF, 0xFF, 0xFF});
    rig.link->state.LineSpeed = 4800;
    rig.selection.SelectedPortIndex = 1;
    configurator::ReadSettings(rig.link->state, rig.selection, path_.c_str());
    EXPECT_EQ(rig.selection.SelectedPortIndex, -1);
    EXPECT_EQ(rig.link->state.LineSpeed, 4800);
    EXPECT_EQ(rig.link->state.PortTable[1], 3);
}

// The main window's start-up without its window: everything reset, then the settings decide.
TEST_F(SettingsFile, StartUpSearchesOnTheSavedPortOrWaitsForOne) {
    {
        LinkRig rig;
        rig.link->state.ParamIndex = 3;
        rig.link->state.FramePos = 99;
        rig.host.portButton = rig.host.readButton = true;
        rig.link->ResetForStart();
        EXPECT_EQ(rig.link->state.ParamIndex, -1);
        EXPECT_EQ(rig.link->state.FramePos, 0);
        EXPECT_EQ(rig.link->state.LineSpeed, 4800);
        EXPECT_EQ(rig.selection.SelectedPortIndex, -1);
        EXPECT_EQ(rig.selection.SelectedSpeedIndex, -1);
        EXPECT_FALSE(rig.host.readButton);
        EXPECT_FALSE(rig.host.portButton);

        // No settings file: nothing opens, only the port button works.
        configurator::StartFromSettings(*rig.link, rig.host, rig.selection, path_.c_str());
        EXPECT_EQ(rig.host.LastStatus(1), "Порт не выбран");
        EXPECT_TRUE(rig.host.portButton);
        EXPECT_FALSE(rig.host.readButton);
        EXPECT_TRUE(rig.api.OpenCalls().empty());
    }
    // A file naming position 2 of the table 1, 3, 4: the next run searches on COM4 at once.
    WriteBytes(Record(2, 19200, {1, 3, 4}));
    LinkRig rig;
    rig.link->ResetForStart();
    configurator::StartFromSettings(*rig.link, rig.host, rig.selection, path_.c_str());
    rig.Settle();
    EXPECT_EQ(rig.api.OpenCalls(), std::vector<unsigned>({4}));
    EXPECT_EQ(rig.host.LastStatus(1), "Поиск на скорости 1200");
    EXPECT_EQ(rig.link->state.LineSpeed, 1200);
    EXPECT_FALSE(rig.host.portButton);
}

}  // namespace
}  // namespace adapter_test
