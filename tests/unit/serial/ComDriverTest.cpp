// The driver's command logic over the scripted fake port.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComDriver.h"
#include "serial/VaRevir.h"
#include "tests/support/FakeSerialApi.h"

using krt_test::FakeSerialApi;
using krt_test::WaitFor;
using krt_test::WaitUntilNotBusy;
using namespace serial;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kUntouched = -77;

int Command(ComDriver& d, uint32_t command, void* block = nullptr) {
    int result = kUntouched;
    EXPECT_EQ(1, d.ComDriverCall(command, &result, block));
    return result;
}

int Open(ComDriver& d, uint16_t port, uint32_t speed = 9600, uint16_t format = 0, uint16_t keying = 0) {
    ComOpenBlock b;
    b.port = port;
    b.speed = speed;
    b.format = format;
    b.keying = keying;
    return Command(d, COM_OPEN, &b);
}

std::vector<uint8_t> Pattern(std::size_t n) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
}

template <std::size_t N>
void Fill(ComWriteBlock<N>& block, const std::vector<uint8_t>& bytes) {
    block.length = static_cast<uint16_t>(bytes.size());
    std::memcpy(block.data, bytes.data(), bytes.size());
}

double SecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

class ComDriverTest : public ::testing::Test {
  protected:
    FakeSerialApi api;
    ComDriver cfg{ComVariant::Configurator, api};
    ComDriver ldr{ComVariant::Loader, api};
};

TEST_F(ComDriverTest, OpenSetsQueuesTimeoutsAndLineFieldsOfEitherVariant) {
    struct Row {
        ComVariant variant;
        uint16_t format;
        uint8_t byteSize;
        Parity parity;
    };
    const Row rows[] = {
        {ComVariant::Configurator, 0, 8, serial::Parity::None},
        {ComVariant::Configurator, 1, 8, serial::Parity::Even},
        {ComVariant::Configurator, 8, 8, serial::Parity::Even},
        {ComVariant::Loader, 8, 8, serial::Parity::None},
        {ComVariant::Loader, 0, 7, serial::Parity::Even},
        {ComVariant::Loader, 1, 7, serial::Parity::Even},
    };
    for (const Row& row : rows) {
        FakeSerialApi fake;
        ComDriver d(row.variant, fake);
        SCOPED_TRACE(::testing::Message() << "format " << row.format);
        ASSERT_EQ(0, Open(d, 3, 57600, row.format));
        EXPECT_EQ(3, d.CurrentPort());
        ASSERT_EQ(1u, fake.QueueSetups().size());
        EXPECT_EQ(7168u, fake.QueueSetups()[0].in);
        EXPECT_EQ(1u, fake.QueueSetups()[0].out);
        EXPECT_EQ(1, fake.GetTimeoutsCalls());
        ASSERT_EQ(1u, fake.TimeoutsSet().size());
        const serial::CommTimeouts t = fake.TimeoutsSet()[0];
        EXPECT_EQ(0xFFFFFFFFu, t.readIntervalTimeout);
        EXPECT_EQ(0u, t.readTotalTimeoutMultiplier + t.readTotalTimeoutConstant +
                          t.writeTotalTimeoutMultiplier + t.writeTotalTimeoutConstant);
        const serial::LineSettings s = fake.PortSettings(3);
        EXPECT_EQ(57600u, s.baudRate);
        EXPECT_EQ(row.byteSize, s.byteSize);
        EXPECT_EQ(row.parity, s.parity);
        EXPECT_EQ(serial::StopBits::One, s.stopBits);
        EXPECT_FALSE(s.fParity || s.fOutxCtsFlow || s.fOutxDsrFlow || s.fDsrSensitivity || s.fAbortOnError);
        EXPECT_EQ(serial::LineControl::Enable, s.fDtrControl);
        EXPECT_EQ(serial::LineControl::Enable, s.fRtsControl);
        if (row.variant == ComVariant::Loader) {
            EXPECT_EQ(std::vector<uint32_t>{serial::CommEvent::Break}, fake.EventMasks());
        } else {
            EXPECT_TRUE(fake.EventMasks().empty());
        }
        EXPECT_EQ(1, fake.StopEventsCreated());
        EXPECT_TRUE(fake.Escapes().empty());
    }
}

TEST_F(ComDriverTest, SamePortAgainGivesZeroAndKeepsItsSpeedAndFormat) {
    ASSERT_EQ(0, Open(cfg, 3, 9600, 0));
    EXPECT_EQ(0, Open(cfg, 3, 115200, 1));
    EXPECT_EQ(std::vector<unsigned>{3}, api.OpenCalls());
    EXPECT_EQ(9600u, api.PortSettings(3).baudRate);
    EXPECT_EQ(serial::Parity::None, api.PortSettings(3).parity);
}

TEST_F(ComDriverTest, PortZeroWhileClosedOpensNothingAndEveryCommandSeesNoPort) {
    EXPECT_EQ(0, Open(cfg, 0));
    EXPECT_TRUE(api.OpenCalls().empty());
    EXPECT_EQ(0, cfg.CurrentPort());

    ComWriteBlock<4> w;
    Fill(w, {1, 2, 3, 4});
    EXPECT_EQ(1, Command(cfg, COM_WRITE, &w));
    uint8_t buffer[COM_READ_BUFFER];
    EXPECT_EQ(0, Command(cfg, COM_READ, buffer));
    EXPECT_EQ(1, Command(cfg, COM_CLOSE));
    uint8_t lines = 3;
    EXPECT_EQ(4, Command(cfg, COM_SETLINES, &lines));
    EXPECT_EQ(0, Command(cfg, COM_BUSY));
    uint32_t status = 0xDEAD;
    EXPECT_EQ(0, Command(cfg, COM_MODEMSTATUS, &status));
    EXPECT_EQ(0xDEADu, status);
    EXPECT_EQ(0, api.WorkersBegun());
    EXPECT_TRUE(api.Log().empty()) << api.Log().front();
}

TEST_F(ComDriverTest, SecondPortIsRefusedAndTheFirstStillSendsAndReceives) {
    ASSERT_EQ(0, Open(cfg, 3));
    EXPECT_EQ(1, Open(cfg, 5));
    EXPECT_EQ(1, Open(cfg, 0));
    EXPECT_EQ(std::vector<unsigned>{3}, api.OpenCalls());

    ComWriteBlock<3> w;
    Fill(w, {'a', 'b', 'c'});
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(cfg));
    EXPECT_EQ((std::vector<uint8_t>{'a', 'b', 'c'}), api.Written(3));

    api.QueueRx(3, "xyz");
    uint8_t buffer[COM_READ_BUFFER];
    ASSERT_EQ(3, Command(cfg, COM_READ, buffer));
    EXPECT_STREQ("xyz", reinterpret_cast<char*>(buffer));
}

TEST_F(ComDriverTest, PortThatCannotBeOpenedGivesThreeAndLeavesTheDriverClosed) {
    api.FailOpen(7);
    EXPECT_EQ(3, Open(ldr, 7));
    EXPECT_EQ(0, ldr.CurrentPort());
    ComWriteBlock<1> w;
    Fill(w, {1});
    EXPECT_EQ(1, Command(ldr, COM_WRITE, &w));
    EXPECT_EQ(1, Command(ldr, COM_CLOSE));
    EXPECT_EQ(0, Open(ldr, 4));
    EXPECT_EQ(4, ldr.CurrentPort());
}

TEST_F(ComDriverTest, UnassignedCommandsLeaveTheResultAndHigherCodesAnswerTheVersion) {
    ASSERT_EQ(0, Open(cfg, 3));
    EXPECT_EQ(kUntouched, Command(cfg, 3));
    EXPECT_EQ(kUntouched, Command(cfg, 4));
    char text[32];
    EXPECT_EQ(0, Command(cfg, 200, text));
    EXPECT_STREQ(" COM-driver Version 2.00", text);
}

TEST_F(ComDriverTest, ReadTakesAtMost6144BytesTerminatesThemAndNeverWaits) {
    ASSERT_EQ(0, Open(cfg, 3));
    std::vector<uint8_t> buffer(COM_READ_BUFFER + 16, 0xAA);
    EXPECT_EQ(0, Command(cfg, COM_READ, buffer.data()));
    EXPECT_EQ(0, buffer[0]);

    const std::vector<uint8_t> incoming = Pattern(7000);
    api.QueueRx(3, incoming.data(), incoming.size());
    std::fill(buffer.begin(), buffer.end(), 0xAA);
    ASSERT_EQ(6144, Command(cfg, COM_READ, buffer.data()));
    EXPECT_TRUE(std::equal(incoming.begin(), incoming.begin() + 6144, buffer.begin()));
    EXPECT_EQ(0, buffer[6144]);
    EXPECT_EQ(0xAA, buffer[6145]);
    ASSERT_EQ(856, Command(cfg, COM_READ, buffer.data()));
    EXPECT_TRUE(std::equal(incoming.begin() + 6144, incoming.end(), buffer.begin()));
    EXPECT_EQ(0, buffer[856]);

    api.QueueRx(3, "zz");
    api.FailReads(true);
    buffer[0] = 0xAA;
    EXPECT_EQ(0, Command(cfg, COM_READ, buffer.data()));
    EXPECT_EQ(0, buffer[0]);
}

TEST_F(ComDriverTest, WriteRunsOnATimeCriticalVaRevirWorkerThatEnds) {
    ASSERT_EQ(0, Open(cfg, 3));
    const std::vector<uint8_t> bytes = Pattern(300);
    ComWriteBlock<300> w;
    Fill(w, bytes);
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id writer = caller;
    api.OnWrite([&writer] { writer = std::this_thread::get_id(); });
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(cfg));
    EXPECT_EQ(bytes, api.Written(3));
    EXPECT_NE(caller, writer);
    EXPECT_EQ(fw::kPriorityTimeCritical, api.LastWorkerPriority());
    EXPECT_EQ(1, api.WriteCalls());
    const std::vector<std::string> log = api.Log();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "worker VaRevir"));

    // The next write releases the ended worker and starts a new one.
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(cfg));
    EXPECT_EQ(2, api.WorkersBegun());
    EXPECT_EQ(600u, api.Written(3).size());
}

TEST_F(ComDriverTest, WriteOfLengthZeroStartsAWorkerThatEndsAtOnce) {
    ASSERT_EQ(0, Open(cfg, 3));
    ComWriteBlock<1> w;
    w.length = 0;
    w.data[0] = 0x55;
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(cfg));
    EXPECT_EQ(1, api.WorkersBegun());
    EXPECT_TRUE(api.Written(3).empty());
    EXPECT_LE(api.WriteCalls(), 1);
}

TEST_F(ComDriverTest, ShortAndFailingWritesContinueWithoutLossOrRepetition) {
    ASSERT_EQ(0, Open(cfg, 3));
    const std::vector<uint8_t> bytes = Pattern(1000);
    ComWriteBlock<1000> w;
    Fill(w, bytes);

    api.SetWriteLimit(7);
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(cfg));
    EXPECT_EQ(bytes, api.Written(3));
    EXPECT_EQ(143, api.WriteCalls());

    // Some failures in a row, then progress, then failures again: the worker keeps going as
    // long as the port takes something now and then.
    FakeSerialApi fresh;
    ComDriver d(ComVariant::Loader, fresh);
    ASSERT_EQ(0, Open(d, 2, 9600, 8));
    using Step = FakeSerialApi::WriteStep;
    const uint32_t none = 0;
    std::vector<Step> script;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i + 1 < VaRevir::kUnproductiveWritesLimit; ++i)
            script.push_back(Step{i % 2 == 0, none});
        script.push_back(Step{false, 100});
    }
    fresh.ScriptWrites(script);
    ASSERT_EQ(0, Command(d, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(d));
    EXPECT_EQ(bytes, fresh.Written(2));
}

TEST_F(ComDriverTest, WorkerGivesUpOnAPortThatKeepsFailingOrTakingNothing) {
    for (const bool failOutright : {true, false}) {
        FakeSerialApi fake;
        ComDriver d(ComVariant::Loader, fake);
        ASSERT_EQ(0, Open(d, 2, 9600, 8, 1));
        if (failOutright) {
            fake.FailWrites(true);
        } else {
            fake.SetWriteLimit(0);
        }
        ComWriteBlock<64> w;
        Fill(w, Pattern(64));
        const auto t0 = Clock::now();
        ASSERT_EQ(0, Command(d, COM_WRITE, &w));
        ASSERT_TRUE(WaitUntilNotBusy(d, std::chrono::seconds(5)));
        EXPECT_LT(SecondsSince(t0), 2.0);
        EXPECT_EQ(VaRevir::kUnproductiveWritesLimit, fake.WriteCalls());
        // Keyed RTS still comes down after the worker gave up.
        EXPECT_EQ((std::vector<EscapeFunction>{EscapeFunction::SetRts, EscapeFunction::ClearRts}),
                  fake.Escapes());
        // ... and the owner learns that its bytes did not go out.
        EXPECT_TRUE(d.LineFailed());
        EXPECT_EQ(0, Command(d, COM_CLOSE));
        EXPECT_FALSE(d.LineFailed());
    }
}

TEST_F(ComDriverTest, LineFailedOnlyForAWriteGivenUpOrNeverStartedOnTheOpenPort) {
    ComWriteBlock<64> w;
    Fill(w, Pattern(64));
    EXPECT_EQ(1, Command(ldr, COM_WRITE, &w));  // no port: refused, but no line failed
    EXPECT_FALSE(ldr.LineFailed());

    // Bytes go out, then the port dies: the rest is given up and reported until the next write
    // or a reopen.
    ASSERT_EQ(0, Open(ldr, 2, 9600, 8));
    api.ScriptWrites({FakeSerialApi::WriteStep{false, 10}});
    api.FailWrites(true);
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(ldr));
    EXPECT_TRUE(ldr.LineFailed());
    api.FailWrites(false);
    EXPECT_EQ(0, Command(ldr, COM_CLOSE));
    ASSERT_EQ(0, Open(ldr, 2, 9600, 8));
    EXPECT_FALSE(ldr.LineFailed());

    // A second write while the first still runs is the caller's fault, not the line's ...
    api.BlockWrites(true);
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
    ASSERT_TRUE(api.WaitForBlockedWrite());
    EXPECT_EQ(3, Command(ldr, COM_WRITE, &w));
    api.ReleaseWrites();
    ASSERT_TRUE(WaitUntilNotBusy(ldr));
    EXPECT_FALSE(ldr.LineFailed());
    // ... but a worker that cannot start on the open port is.
    api.RefuseWorker(true);
    EXPECT_EQ(3, Command(ldr, COM_WRITE, &w));
    EXPECT_TRUE(ldr.LineFailed());
    api.RefuseWorker(false);

    // A close that stops a worker which gets nowhere is no failure.
    EXPECT_EQ(0, Command(ldr, COM_CLOSE));
    ASSERT_EQ(0, Open(ldr, 2, 9600, 8));
    api.SetWriteLimit(0);
    const int before = api.WriteCalls();
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
    ASSERT_TRUE(WaitFor([&] { return api.WriteCalls() >= before + 2; }));
    EXPECT_EQ(0, Command(ldr, COM_CLOSE));
    EXPECT_FALSE(ldr.LineFailed());
}

TEST_F(ComDriverTest, LineFailedSpeaksOfTheWriteLastStartedOnly) {
    ComWriteBlock<16> w;
    Fill(w, Pattern(16));
    ASSERT_EQ(0, Open(ldr, 2, 9600, 8));
    for (const bool neverStarted : {false, true}) {
        if (neverStarted) {
            api.RefuseWorker(true);
            EXPECT_EQ(3, Command(ldr, COM_WRITE, &w));
            api.RefuseWorker(false);
        } else {
            api.FailWrites(true);
            ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
            ASSERT_TRUE(WaitUntilNotBusy(ldr));
            api.FailWrites(false);
        }
        ASSERT_TRUE(ldr.LineFailed()) << neverStarted;
        // The line works again: the next write on the same open port starts clean, before its
        // worker has done anything, and stays clean once its bytes are out.
        const std::size_t before = api.Written(2).size();
        ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
        EXPECT_FALSE(ldr.LineFailed()) << neverStarted;
        ASSERT_TRUE(WaitUntilNotBusy(ldr));
        EXPECT_FALSE(ldr.LineFailed()) << neverStarted;
        EXPECT_EQ(before + 16, api.Written(2).size()) << neverStarted;
    }
    // ... and a write that fails again says so again.
    api.FailWrites(true);
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(ldr));
    EXPECT_TRUE(ldr.LineFailed());
}

TEST_F(ComDriverTest, LoaderKeyingRaisesRtsExactlyAroundTheWriteLoop) {
    ASSERT_EQ(0, Open(ldr, 4, 9600, 8, 1));
    api.SetWriteLimit(10);
    ComWriteBlock<25> w;
    Fill(w, Pattern(25));
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(ldr));
    std::vector<std::string> tail;
    for (const std::string& e : api.Log()) {
        if (e.rfind("escape", 0) == 0 || e.rfind("write", 0) == 0) tail.push_back(e);
    }
    EXPECT_EQ((std::vector<std::string>{"escape SETRTS", "write 25 took 10", "write 15 took 10",
                                        "write 5 took 5", "escape CLRRTS"}),
              tail);

    // While a write hangs RTS stays up, and the driver reports the worker busy.
    api.SetWriteLimit(FakeSerialApi::kNoLimit);
    api.BlockWrites(true);
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
    ASSERT_TRUE(api.WaitForBlockedWrite());
    EXPECT_EQ(EscapeFunction::SetRts, api.Escapes().back());
    EXPECT_EQ(1, Command(ldr, COM_BUSY));
    api.ReleaseWrites();
    ASSERT_TRUE(WaitUntilNotBusy(ldr));
    EXPECT_EQ(EscapeFunction::ClearRts, api.Escapes().back());
}

TEST_F(ComDriverTest, NoKeyingUnlessTheLoaderAsksForExactlyOne) {
    struct Case {
        ComVariant variant;
        uint16_t keying;
    };
    for (const Case c :
         {Case{ComVariant::Loader, 0}, Case{ComVariant::Loader, 2}, Case{ComVariant::Configurator, 1}}) {
        FakeSerialApi fake;
        ComDriver d(c.variant, fake);
        ASSERT_EQ(0, Open(d, 1, 9600, 8, c.keying));
        ComWriteBlock<2> w;
        Fill(w, {1, 2});
        ASSERT_EQ(0, Command(d, COM_WRITE, &w));
        ASSERT_TRUE(WaitUntilNotBusy(d));
        EXPECT_EQ(2u, fake.Written(1).size());
        EXPECT_TRUE(fake.Escapes().empty()) << "keying " << c.keying;
    }
}

TEST_F(ComDriverTest, SetLinesUsesLineSettingsInTheConfiguratorAndEscapesInTheLoader) {
    ASSERT_EQ(0, Open(cfg, 3));
    const std::size_t before = api.LineSettingsSet().size();
    struct Want {
        uint8_t lines;
        uint8_t dtr;
        uint8_t rts;
    };
    for (const Want w :
         {Want{0, 0, 0}, Want{1, 1, 0}, Want{2, 0, 1}, Want{3, 1, 1}, Want{7, 1, 1}, Want{4, 0, 0}}) {
        uint8_t lines = w.lines;
        EXPECT_EQ(0, Command(cfg, COM_SETLINES, &lines));
        EXPECT_EQ(static_cast<LineControl>(w.dtr), api.PortSettings(3).fDtrControl) << int(w.lines);
        EXPECT_EQ(static_cast<LineControl>(w.rts), api.PortSettings(3).fRtsControl) << int(w.lines);
        EXPECT_EQ(9600u, api.PortSettings(3).baudRate);
    }
    EXPECT_EQ(before + 6, api.LineSettingsSet().size());
    EXPECT_TRUE(api.Escapes().empty());
    ASSERT_EQ(0, Command(cfg, COM_CLOSE));

    ASSERT_EQ(0, Open(ldr, 3, 9600, 8));
    const std::size_t settingsAfterOpen = api.LineSettingsSet().size();
    uint8_t lines = 3;
    EXPECT_EQ(0, Command(ldr, COM_SETLINES, &lines));
    lines = 4;
    EXPECT_EQ(0, Command(ldr, COM_SETLINES, &lines));
    using E = EscapeFunction;
    EXPECT_EQ((std::vector<E>{E::SetDtr, E::SetRts, E::ClearBreak, E::ClearDtr, E::ClearRts, E::SetBreak}),
              api.Escapes());
    EXPECT_EQ(settingsAfterOpen, api.LineSettingsSet().size());
}

TEST_F(ComDriverTest, VersionTextsPerVariantAndTheirResultIsTheBusyAnswer) {
    char text[40];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(0, Command(cfg, COM_VERSION, text));
    EXPECT_STREQ(" COM-driver Version 2.00", text);
    EXPECT_EQ('x', text[COM_VERSION_SIZE]);
    EXPECT_EQ(0, Command(ldr, COM_VERSION, text));
    EXPECT_STREQ(" COM-driver Version 4.00", text);
    EXPECT_EQ(24u, std::strlen(text));

    ASSERT_EQ(0, Open(ldr, 6, 9600, 8));
    api.BlockWrites(true);
    ComWriteBlock<1> w;
    Fill(w, {9});
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
    ASSERT_TRUE(api.WaitForBlockedWrite());
    EXPECT_EQ(1, Command(ldr, COM_VERSION, text));
    api.ReleaseWrites();
    ASSERT_TRUE(WaitUntilNotBusy(ldr));
    EXPECT_EQ(0, Command(ldr, COM_VERSION, text));
}

TEST_F(ComDriverTest, RefusedStopEventGivesFourAndReleasesThePortAtOnce) {
    api.RefuseStopEvent(true);
    EXPECT_EQ(4, Open(cfg, 3));
    EXPECT_FALSE(api.IsOpen(3));
    EXPECT_EQ(0, cfg.CurrentPort());
    ComWriteBlock<1> w;
    Fill(w, {1});
    EXPECT_EQ(1, Command(cfg, COM_WRITE, &w));
    uint8_t buffer[COM_READ_BUFFER];
    EXPECT_EQ(0, Command(cfg, COM_READ, buffer));
    uint8_t lines = 3;
    EXPECT_EQ(4, Command(cfg, COM_SETLINES, &lines));
    EXPECT_EQ(1, Command(cfg, COM_CLOSE));
    EXPECT_EQ(0, api.WorkersBegun());

    api.RefuseStopEvent(false);
    EXPECT_EQ(0, Open(cfg, 3));
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(cfg));
    EXPECT_EQ(std::vector<uint8_t>{1}, api.Written(3));
}

TEST_F(ComDriverTest, RefusedWorkerGivesThreeAndSendsNothing) {
    ASSERT_EQ(0, Open(cfg, 3));
    api.RefuseWorker(true);
    ComWriteBlock<2> w;
    Fill(w, {1, 2});
    EXPECT_EQ(3, Command(cfg, COM_WRITE, &w));
    EXPECT_EQ(0, Command(cfg, COM_BUSY));
    EXPECT_EQ(0, api.WriteCalls());
    api.RefuseWorker(false);
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &w));
    ASSERT_TRUE(WaitUntilNotBusy(cfg));
    EXPECT_EQ((std::vector<uint8_t>{1, 2}), api.Written(3));
}

TEST_F(ComDriverTest, WriteWhileTheLastWorkerStillRunsIsRefusedAndTheRunningWriteIsKept) {
    ASSERT_EQ(0, Open(cfg, 3));
    api.BlockWrites(true);
    ComWriteBlock<3> first;
    Fill(first, {1, 2, 3});
    ComWriteBlock<2> second;
    Fill(second, {8, 9});
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &first));
    ASSERT_TRUE(api.WaitForBlockedWrite());
    EXPECT_EQ(3, Command(cfg, COM_WRITE, &second));
    api.ReleaseWrites();
    ASSERT_TRUE(WaitUntilNotBusy(cfg));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), api.Written(3));
    EXPECT_EQ(1, api.WorkersBegun());
}

TEST_F(ComDriverTest, CloseStopsAWorkerBetweenPartialWritesWithoutRepeatingBytes) {
    ASSERT_EQ(0, Open(cfg, 3));
    api.SetWriteLimit(1);
    api.OnWrite([] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
    const std::vector<uint8_t> bytes = Pattern(3000);
    ComWriteBlock<3000> w;
    Fill(w, bytes);
    ASSERT_EQ(0, Command(cfg, COM_WRITE, &w));
    ASSERT_TRUE(WaitFor([this] { return api.Written(3).size() >= 10; }));
    const auto t0 = Clock::now();
    EXPECT_EQ(0, Command(cfg, COM_CLOSE));
    EXPECT_LT(SecondsSince(t0), 2.0);
    const std::vector<uint8_t> sent = api.Written(3);
    ASSERT_LT(sent.size(), bytes.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), bytes.begin()));
    EXPECT_EQ(std::vector<unsigned>{3}, api.CloseCalls());
    EXPECT_EQ(0, Command(cfg, COM_BUSY));
    EXPECT_EQ(1, Command(cfg, COM_CLOSE));
}

TEST_F(ComDriverTest, CloseDuringAWriteThatNeverEndsReturnsAfterFiveSecondsAndEndsTheWorker) {
    ASSERT_EQ(0, Open(ldr, 5, 300, 8, 1));
    api.BlockWrites(true);
    ComWriteBlock<6000> w;
    Fill(w, Pattern(6000));
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &w));
    ASSERT_TRUE(api.WaitForBlockedWrite());
    const auto t0 = Clock::now();
    EXPECT_EQ(0, Command(ldr, COM_CLOSE));
    const double took = SecondsSince(t0);
    EXPECT_GE(took, 4.9);
    EXPECT_LT(took, 8.0);
    EXPECT_FALSE(api.IsOpen(5));
    EXPECT_EQ(0, Command(ldr, COM_BUSY));
    // The ended worker never leaves its write: released now, nothing more arrives.
    api.ReleaseWrites();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(1, api.BlockedWrites());
    EXPECT_TRUE(api.Written(5).empty());

    // The driver is fully usable again.
    api.BlockWrites(false);
    ASSERT_EQ(0, Open(ldr, 5, 9600, 8));
    ComWriteBlock<2> small;
    Fill(small, {4, 2});
    ASSERT_EQ(0, Command(ldr, COM_WRITE, &small));
    ASSERT_TRUE(WaitUntilNotBusy(ldr));
    EXPECT_EQ((std::vector<uint8_t>{4, 2}), api.Written(5));
}

TEST_F(ComDriverTest, ModemStatusIsPassedOnAndAFailedQueryReportsNoLines) {
    ASSERT_EQ(0, Open(cfg, 3));
    api.SetModemStatus(serial::ModemStatus::CtsOn | serial::ModemStatus::RlsdOn);
    uint32_t status = 0;
    EXPECT_EQ(0, Command(cfg, COM_MODEMSTATUS, &status));
    EXPECT_EQ(serial::ModemStatus::CtsOn | serial::ModemStatus::RlsdOn, status);
    api.FailModemStatus(true);
    status = 0xFFFF;
    EXPECT_EQ(0, Command(cfg, COM_MODEMSTATUS, &status));
    EXPECT_EQ(0u, status);
}

}  // namespace
