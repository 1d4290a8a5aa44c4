// The apply steps of both port dialogs over the scripted serial port: which port the driver ends
// up with, at what line settings, the status texts in order, and the stored positions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "portselect/PortApply.h"
#include "portselect/Selection.h"
#include "tests/support/FakeSerialApi.h"

namespace {

using portselect::PORT_TABLE_SIZE;
using portselect::SPEED_COUNT;
using portselect::SpeedTable;
using namespace serial;

// Records the dialog's side of the apply in one sequence: "part1:<text>", "show", "search".
struct RecordingDialog : portselect::PortApplyHost {
    void SetStatusText(int part, const char* text) override {
        events.push_back("part" + std::to_string(part) + ":" + text);
    }
    void ShowPositions() override { events.push_back("show"); }
    std::vector<std::string> events;
};

class ApplyTest : public ::testing::Test {
  protected:
    void Install(ComVariant variant) { driver_.reset(new ComDriver(variant, api)); }
    void TearDown() override {
        if (driver_) driver_->Command(COM_CLOSE, nullptr);
    }
    portselect::ApplyTarget Target() { return {*driver_, table, selection}; }
    ComResult ApplyLoader(int32_t port, int32_t speed) {
        return portselect::ApplyLoaderPort(Target(), port, speed, block, dialog);
    }
    uint16_t OpenPort() const { return driver_->CurrentPort(); }

    // The configurator's apply, with a search callback that records when it ran and what it saw.
    ComResult ApplyConfigurator(int32_t position) {
        return portselect::ApplyConfiguratorPort(Target(), position, block, dialog, [this] {
            dialog.events.push_back("search");
            selectedAtSearch = selection.SelectedPortIndex;
            portAtSearch = driver_->CurrentPort();
        });
    }

    krt_test::FakeSerialApi api;
    portselect::PortTable table = {1, 2, 0};
    portselect::Selection selection;
    ComOpenBlock block;
    RecordingDialog dialog;
    int32_t selectedAtSearch = -100;
    int portAtSearch = -1;

    std::unique_ptr<ComDriver> driver_;
};

using ConfiguratorApply = ApplyTest;
using LoaderApply = ApplyTest;

TEST_F(ConfiguratorApply, ChosenPortOpensAt4800WithLinesOnThenTheSearchStarts) {
    Install(ComVariant::Configurator);
    EXPECT_EQ(ApplyConfigurator(0), 0);

    EXPECT_EQ(OpenPort(), 1);
    const serial::LineSettings line = api.PortSettings(1);
    EXPECT_EQ(line.baudRate, 4800u);
    EXPECT_EQ(line.byteSize, 8);
    EXPECT_EQ(line.parity, serial::Parity::None);
    EXPECT_EQ(line.fDtrControl, serial::LineControl::Enable);
    EXPECT_EQ(line.fRtsControl, serial::LineControl::Enable);
    // COM_OPEN and then COM_SETLINES each write the line settings once.
    EXPECT_EQ(api.LineSettingsSet().size(), 2u);
    EXPECT_EQ(block.port, 1);
    EXPECT_EQ(block.speed, 4800u);
    EXPECT_EQ(block.format, 0);

    EXPECT_EQ(dialog.events, (std::vector<std::string>{"part1: Порт выбран", "show", "search"}));
    // The search reads the chosen position, so it must be stored before the search starts.
    EXPECT_EQ(selectedAtSearch, 0);
    EXPECT_EQ(portAtSearch, 1);
    EXPECT_EQ(selection.SelectedPortIndex, 0);
}

TEST_F(ConfiguratorApply, ReapplyClosesTheOpenPortBeforeOpeningTheNextOne) {
    Install(ComVariant::Configurator);
    ApplyConfigurator(0);
    dialog.events.clear();
    EXPECT_EQ(ApplyConfigurator(1), 0);
    EXPECT_EQ(OpenPort(), 2);
    EXPECT_FALSE(api.IsOpen(1));
    EXPECT_EQ(api.OpenCalls(), (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(api.CloseCalls(), (std::vector<unsigned>{1}));
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"part1: Порт выбран", "show", "search"}));
    EXPECT_EQ(selection.SelectedPortIndex, 1);
}

TEST_F(ConfiguratorApply, NoPortEntryAndPositionsOutsideTheTableLeaveTheDriverWithoutAPort) {
    Install(ComVariant::Configurator);
    struct Case {
        int32_t position;  // "не выбран" after two ports, no selection, past every list
        int32_t stored;
    } cases[] = {{2, 2}, {-1, -1}, {65, 65}, {PORT_TABLE_SIZE, PORT_TABLE_SIZE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        ApplyConfigurator(0);
        ASSERT_EQ(OpenPort(), 1);
        dialog.events.clear();

        EXPECT_EQ(ApplyConfigurator(c.position), 0);
        EXPECT_EQ(OpenPort(), 0);
        EXPECT_FALSE(api.IsOpen(1));
        EXPECT_EQ(block.port, 0);
        EXPECT_EQ(dialog.events, (std::vector<std::string>{"part1: Порт выбран", "show", "search"}));
        EXPECT_EQ(selection.SelectedPortIndex, c.stored);
    }
    EXPECT_EQ(api.OpenCalls(), (std::vector<unsigned>(4, 1)));
}

TEST_F(ConfiguratorApply, PortThatCannotBeOpenedIsReportedAndTheSearchStartsAllTheSame) {
    Install(ComVariant::Configurator);
    api.FailOpen(2);
    EXPECT_EQ(ApplyConfigurator(1), 3);
    EXPECT_EQ(OpenPort(), 0);
    EXPECT_EQ(dialog.events,
              (std::vector<std::string>{"part1: Порт выбран", "part1: Нет подключения к COM-порту", "show",
                                        "search"}));
    EXPECT_EQ(selection.SelectedPortIndex, 1);
    // COM_SETLINES finds no port and touches nothing.
    EXPECT_TRUE(api.LineSettingsSet().empty());
}

TEST_F(ConfiguratorApply, UnusablePortIsNotReportedAsChosen) {
    Install(ComVariant::Configurator);
    api.RefuseStopEvent(true);
    EXPECT_EQ(ApplyConfigurator(0), 4);
    EXPECT_EQ(dialog.events,
              (std::vector<std::string>{"part1: Порт выбран", "part1: Нет подключения к COM-порту", "show",
                                        "search"}));
}

TEST_F(ConfiguratorApply, EntriesThatAreNoPortNumberOpenNothing) {
    const portselect::PortTable odd = {0, -3, 0x10001, 0xFFFF, 7};
    EXPECT_EQ(portselect::PortAtPosition(odd, 0), 0);
    EXPECT_EQ(portselect::PortAtPosition(odd, 1), 0);
    EXPECT_EQ(portselect::PortAtPosition(odd, 2), 0);  // would wrap onto COM1
    EXPECT_EQ(portselect::PortAtPosition(odd, 3), 0xFFFF);
    EXPECT_EQ(portselect::PortAtPosition(odd, 4), 7);
    EXPECT_EQ(portselect::PortAtPosition(odd, -1), 0);
    EXPECT_EQ(portselect::PortAtPosition(odd, PORT_TABLE_SIZE), 0);
}

TEST_F(LoaderApply, ChosenPortAndSpeedOpen8N1WithDtrRtsOnAndBreakOff) {
    Install(ComVariant::Loader);
    EXPECT_EQ(ApplyLoader(1, 5), 0);

    EXPECT_EQ(OpenPort(), 2);
    const serial::LineSettings line = api.PortSettings(2);
    EXPECT_EQ(line.baudRate, 9600u);
    EXPECT_EQ(line.byteSize, 8);
    EXPECT_EQ(line.parity, serial::Parity::None);
    EXPECT_EQ(block.format, 8);
    EXPECT_EQ(block.keying, 0);
    EXPECT_EQ(api.Escapes(), (std::vector<serial::EscapeFunction>{serial::EscapeFunction::SetDtr,
                                                                  serial::EscapeFunction::SetRts,
                                                                  serial::EscapeFunction::ClearBreak}));
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"show", "part1:COM2,8,n,9600b "}));
    EXPECT_EQ(selection.SelectedPortIndex, 1);
    EXPECT_EQ(selection.SelectedSpeedIndex, 5);

    // Without keying a write raises no RTS around it.
    ComWriteBlock<4> write;
    write.length = 2;
    ASSERT_EQ(driver_->Command(COM_WRITE, &write), COM_OK);
    ASSERT_TRUE(krt_test::WaitUntilNotBusy(*driver_));
    EXPECT_EQ(api.Escapes().size(), 3u);
}

TEST_F(LoaderApply, EverySpeedPositionOpensItsSpeed) {
    Install(ComVariant::Loader);
    for (int32_t speed = 0; speed < SPEED_COUNT; ++speed) {
        SCOPED_TRACE(speed);
        dialog.events.clear();
        ApplyLoader(0, speed);
        EXPECT_EQ(api.PortSettings(1).baudRate, static_cast<uint32_t>(SpeedTable[speed]));
        EXPECT_EQ(dialog.events.back(), "part1:COM1,8,n," + std::to_string(SpeedTable[speed]) + "b ");
        EXPECT_EQ(selection.SelectedSpeedIndex, speed);
    }
    // Each apply reopened the port, so the new speed took effect.
    EXPECT_EQ(api.OpenCalls().size(), static_cast<size_t>(SPEED_COUNT));
}

TEST_F(LoaderApply, FailuresReplaceThePortTextAndThePositionsAreKept) {
    Install(ComVariant::Loader);
    api.FailOpen(1);
    EXPECT_EQ(ApplyLoader(0, 9), 3);
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"show", "part1:COM1,8,n,115200b ",
                                                       "part1: Нет подключения к COM-порту"}));
    EXPECT_EQ(selection.SelectedPortIndex, 0);
    EXPECT_EQ(selection.SelectedSpeedIndex, 9);
    EXPECT_TRUE(api.Escapes().empty());

    dialog.events.clear();
    api.RefuseStopEvent(true);
    EXPECT_EQ(ApplyLoader(1, 0), 4);
    EXPECT_EQ(dialog.events.back(), "part1: Нет подключения к COM-порту");
}

TEST_F(LoaderApply, NoPortAndNoSpeedSelectionStayInsideTheTables) {
    Install(ComVariant::Loader);
    ApplyLoader(0, 5);
    ASSERT_EQ(OpenPort(), 1);
    dialog.events.clear();

    // No port selected (the edit field holds text of its own): the port is closed, COM0 shown.
    EXPECT_EQ(ApplyLoader(-1, 5), 0);
    EXPECT_EQ(OpenPort(), 0);
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"show", "part1:COM0,8,n,9600b "}));
    EXPECT_EQ(selection.SelectedPortIndex, -1);

    // A speed position without a speed opens at 19200 bit/s rather than reading beside the table.
    for (int32_t speed : {-1, SPEED_COUNT}) {
        SCOPED_TRACE(speed);
        dialog.events.clear();
        EXPECT_EQ(ApplyLoader(1, speed), 0);
        EXPECT_EQ(block.speed, 19200u);
        EXPECT_EQ(api.PortSettings(2).baudRate, 19200u);
        EXPECT_EQ(dialog.events.back(), "part1:COM2,8,n,19200b ");
        EXPECT_EQ(selection.SelectedSpeedIndex, speed);
    }
}

}  // namespace
