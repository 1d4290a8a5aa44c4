// The load procedure stepped tick by tick over the loader's driver and a scripted port.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "loader/LoadProcedure.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/unit/loader/LoaderRig.h"

using loader::Idle;
using loader::LM_FINISHED;
using loader::LM_RECEIVED;
using loader::LM_SEND_BLOCK;
using loader::Pending;
using loader::Ready;
using loader_test::RecordingHost;
using loader_test::TempFile;

namespace {

constexpr unsigned kPort = 5;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>('0' + i % 43);
    return v;
}

// The first k bytes of Pattern(n).
std::vector<uint8_t> Head(size_t n, size_t k) {
    std::vector<uint8_t> v = Pattern(n);
    v.resize(k);
    return v;
}

std::vector<uint8_t> Plus(size_t n) {
    return std::vector<uint8_t>(n, '+');
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class LoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        proc.blockSize = loader::BLOCK_SIZE;
        serial::ComOpenBlock open;
        open.port = kPort;
        open.speed = 19200;
        open.format = 8;
        ASSERT_EQ(driver.Command(serial::COM_OPEN, &open), serial::COM_OK);
    }
    void TearDown() override {
        api.BlockWrites(false);
        driver.Command(serial::COM_CLOSE, nullptr);
    }

    // Delivers every posted message, as the window's pre-translation would.
    void Deliver() {
        while (!host.posted.empty()) {
            uint32_t m = host.posted.front();
            host.posted.pop_front();
            delivered.push_back(m);
            EXPECT_TRUE(proc.HandleMessage(m));
        }
    }
    // One tick once the last write has gone out, then its message.
    void Step() {
        ASSERT_TRUE(krt_test::WaitUntilNotBusy(driver));
        proc.Tick();
        Deliver();
    }
    // The line stalls from the next write on (the last one has gone out first).
    void Stall() {
        ASSERT_TRUE(krt_test::WaitUntilNotBusy(driver));
        api.BlockWrites(true);
    }
    // Steps until the load is idle again; returns the ticks it took.
    int RunToEnd(int limit = 20000) {
        for (int i = 1; i <= limit; ++i) {
            Step();
            if (proc.state == Idle) return i;
        }
        ADD_FAILURE() << "load did not end";
        return -1;
    }
    void Start(const TempFile& file) {
        proc.StartStop(file.Path());
        ASSERT_EQ(proc.state, Ready);
    }
    std::vector<uint8_t> Wire() { return api.Written(kPort); }
    int Count(uint32_t message) const {
        int n = 0;
        for (uint32_t m : delivered) n += m == message;
        return n;
    }

    krt_test::FakeSerialApi api;
    serial::ComDriver driver{serial::ComVariant::Loader, api};
    RecordingHost host;
    loader::ProgramImage image;
    loader::LoadProcedure proc{host, image, driver};
    std::vector<uint32_t> delivered;
};

TEST_F(LoadTest, EmptyImageSendsOnlyTheStartSequenceAndFinishes) {
    TempFile file("empty.hex");
    file.Write({});
    Start(file);
    EXPECT_FALSE(host.chooseEnabled);
    EXPECT_EQ(host.icon, RecordingHost::kStopIcon);
    EXPECT_EQ(host.tooltip, " Остановить загрузку ");
    EXPECT_EQ(RunToEnd(), 1);
    EXPECT_EQ(Wire(), Plus(2));
    EXPECT_EQ(Count(LM_SEND_BLOCK), 0);
    EXPECT_EQ(Count(LM_FINISHED), 1);
    EXPECT_EQ(host.bar.back(), 100);
    EXPECT_EQ(host.barText.back(), "Загрузка программы закончена 100%");
    EXPECT_EQ(host.icon, RecordingHost::kStartIcon);
    EXPECT_EQ(host.tooltip, " Загрузка программы в KRT42 ");
    EXPECT_TRUE(host.chooseEnabled);
}

TEST_F(LoadTest, FiveBytesGoAsOneBlock) {
    TempFile file("five.hex");
    file.Write(Pattern(5));
    Start(file);
    RunToEnd();
    EXPECT_EQ(Wire(), Concat(Plus(2), Pattern(5)));
    EXPECT_EQ(Count(LM_SEND_BLOCK), 1);
    ASSERT_EQ(host.label.size(), 1u);
    EXPECT_EQ(host.label[0], "Процесс ...   0%");
    EXPECT_EQ(host.barText.front(), "Процесс загрузки 100%");
}

TEST_F(LoadTest, ThousandBytesGoAs125BlocksWithTheRoundings) {
    TempFile file("k.hex");
    file.Write(Pattern(1000));
    Start(file);
    RunToEnd();
    EXPECT_EQ(Wire(), Concat(Plus(2), Pattern(1000)));
    EXPECT_EQ(Count(LM_SEND_BLOCK), 125);
    ASSERT_EQ(host.label.size(), 125u);
    EXPECT_EQ(host.label[0], "Процесс ...   0%");
    EXPECT_EQ(host.label[62], "Процесс ...  50%");  // 496 bytes before it: 49.6 rounds up
    EXPECT_EQ(host.label.back(), "Процесс ...  99%");
    // The bar's text changes only with its value: at most 101 updates a pass.
    EXPECT_EQ(host.barText.size(), 102u);  // 0 to 100 during the blocks, then the end
    EXPECT_EQ(host.bar.back(), 100);
}

TEST_F(LoadTest, BarTruncatesInDoublePrecision) {
    TempFile file("800.hex");
    file.Write(Pattern(800));
    Start(file);
    for (int block = 0; block < 29;) {
        Step();
        if (!delivered.empty() && delivered.back() == LM_SEND_BLOCK) ++block;
        delivered.clear();
    }
    EXPECT_EQ(proc.position, 232);
    EXPECT_EQ(host.bar.back(), 28);
    EXPECT_EQ(host.barText.back(), "Процесс загрузки 28%");
}

TEST_F(LoadTest, TwoRsInOneBatchRestartTwice) {
    TempFile file("r.hex");
    file.Write(Pattern(64));
    Start(file);
    proc.RestartCount = 4;
    Step();  // start sequence out; the first block goes
    Step();
    // The line stalls: the next block does not go out, so the tick reads what came in.
    Stall();
    Step();
    ASSERT_TRUE(api.WaitForBlockedWrite());
    api.QueueRx(kPort, std::string("xRyR"));
    proc.Tick();
    ASSERT_EQ(host.posted.size(), 1u);
    EXPECT_EQ(host.posted.front(), LM_RECEIVED);
    EXPECT_EQ(proc.rxCount, 4);
    Deliver();
    EXPECT_EQ(proc.RestartCount, 6);
    ASSERT_EQ(host.status[0].size(), 2u);
    EXPECT_EQ(host.status[0].back(), " R6 ");
    EXPECT_EQ(host.bar.back(), 0);
    EXPECT_EQ(proc.position, 0);
    EXPECT_EQ(proc.remaining, 64);
    // Both restart sequences wait for the stalled write and go out before any further block.
    EXPECT_EQ(proc.SequencesDue(), 2);
    api.BlockWrites(false);
    RunToEnd();
    std::vector<uint8_t> expected = Plus(2);
    expected = Concat(expected, Head(64, 24));
    expected = Concat(expected, Plus(16));
    expected = Concat(expected, Pattern(64));
    EXPECT_EQ(Wire(), expected);
}

TEST_F(LoadTest, BytesWithoutRLetTheLoadGoOn) {
    TempFile file("nr.hex");
    file.Write(Pattern(16));
    Start(file);
    Step();  // start sequence
    Stall();
    Step();  // first block hangs
    ASSERT_TRUE(api.WaitForBlockedWrite());
    api.QueueRx(kPort, std::string("ok"));
    proc.Tick();
    Deliver();
    EXPECT_EQ(proc.state, Ready);
    EXPECT_EQ(proc.rxPending, 0);
    api.BlockWrites(false);
    RunToEnd();
    EXPECT_EQ(Wire(), Concat(Plus(2), Pattern(16)));
    EXPECT_EQ(proc.RestartCount, 0);
}

TEST_F(LoadTest, ReadIsCutTo1023Bytes) {
    TempFile file("cut.hex");
    file.Write(Pattern(16));
    Start(file);
    Step();
    Stall();
    Step();
    ASSERT_TRUE(api.WaitForBlockedWrite());
    std::string batch(2000, 'x');
    batch[1500] = 'R';  // beyond the 1023 bytes that count
    api.QueueRx(kPort, batch);
    proc.Tick();
    EXPECT_EQ(proc.rxCount, 1023);
    Deliver();
    EXPECT_EQ(proc.RestartCount, 0);
}

TEST_F(LoadTest, StartWhileTheLastBlockOfAStoppedLoadIsGoingOut) {
    TempFile file("s.hex");
    file.Write(Pattern(40));
    Start(file);
    Step();
    Stall();
    Step();  // a block hangs on the line
    ASSERT_TRUE(api.WaitForBlockedWrite());
    proc.StartStop(file.Path());  // stop
    EXPECT_EQ(proc.state, Idle);
    EXPECT_EQ(host.barText.back(), "Процесс загрузки 0%");
    EXPECT_TRUE(host.chooseEnabled);
    proc.StartStop(file.Path());  // start again at once
    EXPECT_EQ(proc.state, Ready);
    EXPECT_EQ(proc.SequencesDue(), 1);
    api.BlockWrites(false);
    RunToEnd();
    // The stalled block went out whole and first, then a new start sequence and the whole file.
    std::vector<uint8_t> expected = Concat(Plus(2), Head(40, 16));
    expected = Concat(expected, Plus(2));
    expected = Concat(expected, Pattern(40));
    EXPECT_EQ(Wire(), expected);
}

TEST_F(LoadTest, StopThenStartReadsTheFileAgain) {
    TempFile file("again.hex");
    file.Write(Pattern(24));
    Start(file);
    Step();
    Step();
    proc.StartStop(file.Path());
    file.Write(std::vector<uint8_t>(10, 'Z'));
    proc.StartStop(file.Path());
    RunToEnd();
    std::vector<uint8_t> expected = Concat(Plus(2), Head(24, 16));
    expected = Concat(expected, Plus(2));
    expected = Concat(expected, std::vector<uint8_t>(10, 'Z'));
    EXPECT_EQ(Wire(), expected);
}

TEST_F(LoadTest, MissingFileIsReportedAndARunningLoadGoesOn) {
    TempFile missing("none.hex");
    proc.StartStop(missing.Path());
    EXPECT_EQ(proc.state, Idle);
    EXPECT_EQ(host.status[0].back(), "Ошибка: отсутствует данный файл.");
    proc.StartStop("");
    EXPECT_EQ(host.status[0].size(), 2u);

    TempFile file("del.hex");
    file.Write(Pattern(32));
    Start(file);
    Step();
    std::remove(file.Path());
    proc.StartStop(file.Path());  // stop pressed: the file is gone
    EXPECT_EQ(host.status[0].back(), "Ошибка: отсутствует данный файл.");
    EXPECT_NE(proc.state, Idle);
    RunToEnd();
    EXPECT_EQ(Wire(), Concat(Plus(2), Pattern(32)));
}

TEST_F(LoadTest, LongFileSendsOnlyItsFirst32768Bytes) {
    TempFile file("big.hex");
    file.Write(Pattern(40000));
    Start(file);
    EXPECT_EQ(proc.total, 32768);
    RunToEnd(5000);
    std::vector<uint8_t> first = Pattern(32768);
    EXPECT_EQ(Wire(), Concat(Plus(2), first));
}

TEST_F(LoadTest, StaleNotificationsAfterAStop) {
    TempFile file("stale.hex");
    file.Write(Pattern(16));
    Start(file);
    ASSERT_TRUE(krt_test::WaitUntilNotBusy(driver));
    proc.Tick();  // LM_SEND_BLOCK posted, not yet handled
    ASSERT_EQ(proc.state, Pending);
    proc.StartStop(file.Path());
    Deliver();  // finds Idle: nothing is sent
    EXPECT_EQ(Wire(), Plus(2));
    // A late LM_FINISHED still runs its steps in any state.
    host.bar.clear();
    proc.HandleMessage(LM_FINISHED);
    EXPECT_EQ(host.bar.back(), 100);
    EXPECT_FALSE(proc.HandleMessage(0x0400));
}

TEST_F(LoadTest, DeadLineStopsTheLoadAsTheStopButtonDoesAndSaysSo) {
    TempFile file("dead.hex");
    file.Write(Pattern(64));
    Start(file);
    Step();  // the first block
    Stall();
    Step();  // the second block hangs on the line
    ASSERT_TRUE(api.WaitForBlockedWrite());
    api.QueueRx(kPort, std::string("R"));
    proc.Tick();
    Deliver();
    ASSERT_EQ(proc.SequencesDue(), 1);  // the restart waits for the hanging block
    // The line dies under the hanging block: that write and everything after it fail.
    api.FailWrites(true);
    api.ReleaseWrites();
    for (int tick = 0; tick < 20 && proc.state != Idle; ++tick) Step();
    ASSERT_EQ(proc.state, Idle);
    EXPECT_TRUE(proc.lineFailed);
    EXPECT_EQ(host.status[1], std::vector<std::string>{" Нет подключения к COM-порту"});
    EXPECT_EQ(host.bar.back(), 0);
    EXPECT_EQ(host.barText.back(), "Процесс загрузки 0%");
    EXPECT_EQ(host.icon, RecordingHost::kStartIcon);
    EXPECT_EQ(host.tooltip, " Загрузка программы в KRT42 ");
    EXPECT_TRUE(host.chooseEnabled);
    EXPECT_EQ(Count(LM_FINISHED), 0);
    // Neither the hanging block nor the dropped restart sequence got through, then or later.
    for (int tick = 0; tick < 3; ++tick) proc.Tick();
    EXPECT_TRUE(host.posted.empty());
    EXPECT_EQ(Wire(), Concat(Plus(2), Head(64, 8)));

    // A new start clears the mark; on the line that is still dead its first tick stops it again.
    Start(file);
    EXPECT_FALSE(proc.lineFailed);
    Step();
    EXPECT_TRUE(proc.lineFailed);
    EXPECT_EQ(host.status[1].size(), 2u);
}

TEST_F(LoadTest, LoadAfterAFailedOneOnTheSameOpenPortRunsToTheEnd) {
    TempFile file("again.hex");
    file.Write(Pattern(20));
    Start(file);
    Step();  // the first block
    api.FailWrites(true);
    for (int tick = 0; tick < 20 && proc.state != Idle; ++tick) Step();
    ASSERT_EQ(proc.state, Idle);
    ASSERT_TRUE(proc.lineFailed);

    // The line is back; the port stays open as it was.
    api.FailWrites(false);
    const std::vector<uint8_t> before = Wire();
    Start(file);
    RunToEnd(100);
    EXPECT_FALSE(proc.lineFailed);
    EXPECT_EQ(Count(LM_FINISHED), 1);
    EXPECT_EQ(host.bar.back(), 100);
    EXPECT_EQ(host.status[1].size(), 1u);  // said once, for the failed load
    EXPECT_EQ(Wire(), Concat(before, Concat(Plus(2), Pattern(20))));
}

TEST_F(LoadTest, ReadingEveryTickSeesAnRFromALineThatTakesEachWriteAtOnce) {
    TempFile file("every.hex");
    file.Write(Pattern(24));
    proc.readEveryTick = true;
    Start(file);
    Step();  // the first block
    api.QueueRx(kPort, std::string("R"));
    ASSERT_TRUE(krt_test::WaitUntilNotBusy(driver));
    proc.Tick();
    proc.Tick();
    // The read comes before the next block, and only one notification is in flight.
    ASSERT_EQ(host.posted, std::deque<uint32_t>{LM_RECEIVED});
    Deliver();
    EXPECT_EQ(proc.RestartCount, 1);

    // An 'R' after the last block restarts the load instead of ending it.
    while (proc.remaining != 0) Step();
    api.QueueRx(kPort, std::string("R"));
    Step();
    EXPECT_EQ(proc.RestartCount, 2);
    RunToEnd();
    std::vector<uint8_t> expected = Concat(Concat(Plus(2), Head(24, 8)), Plus(8));
    expected = Concat(Concat(Concat(expected, Pattern(24)), Plus(8)), Pattern(24));
    EXPECT_EQ(Wire(), expected);
    EXPECT_EQ(Count(LM_FINISHED), 1);
}

TEST_F(LoadTest, WithoutReadingEveryTickAnROnAFreeLineWaitsInTheChannel) {
    TempFile file("wait.hex");
    file.Write(Pattern(24));
    Start(file);
    api.QueueRx(kPort, std::string("R"));
    RunToEnd();
    EXPECT_EQ(proc.RestartCount, 0);
    EXPECT_EQ(api.RxLeft(kPort), 1u);
    EXPECT_EQ(Wire(), Concat(Plus(2), Pattern(24)));
}

TEST(LoadWithoutPort, EndsWithHundredPercentAndNoError) {
    krt_test::FakeSerialApi api;
    serial::ComDriver driver{serial::ComVariant::Loader, api};
    RecordingHost host;
    loader::ProgramImage image;
    loader::LoadProcedure proc{host, image, driver};
    proc.blockSize = 8;
    TempFile file("noport.hex");
    file.Write(Pattern(100));
    proc.StartStop(file.Path());
    int ticks = 0;
    while (proc.state != Idle && ticks < 1000) {
        proc.Tick();
        while (!host.posted.empty()) {
            uint32_t m = host.posted.front();
            host.posted.pop_front();
            proc.HandleMessage(m);
        }
        ++ticks;
    }
    EXPECT_EQ(ticks, 13 + 1);  // a block a tick, then the end
    EXPECT_EQ(host.bar.back(), 100);
    EXPECT_TRUE(host.status[0].empty());
    EXPECT_EQ(api.WriteCalls(), 0);
}

}  // namespace
