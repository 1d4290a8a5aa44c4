// The thread and event classes under the driver.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/DebugOutput.h"
#include "framework/Event.h"
#include "framework/WorkerThread.h"
#include "tests/support/FakeSerialApi.h"

using krt_test::WaitFor;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kRecord = 0x0400;
constexpr uint32_t kStop = 0x0401;
constexpr uint32_t kHang = 0x0402;

std::atomic<int> g_alive{0};

class Recorder : public fw::WorkerThread {
  public:
    Recorder() { ++g_alive; }
    ~Recorder() override { --g_alive; }

    std::mutex mu;
    std::vector<uintptr_t> seen;
    std::atomic<bool> hanging{false};
    std::atomic<bool> exited{false};

  protected:
    bool PreTranslateMessage(const fw::ThreadMessage& msg) override {
        if (msg.message == kRecord) {
            std::lock_guard<std::mutex> lock(mu);
            seen.push_back(msg.wParam);
            return true;
        }
        if (msg.message == kStop) {
            EndThread();
            return true;
        }
        if (msg.message == kHang) {
            hanging = true;
            // Direct nanosleep: see FakeSerialApi::Write on unwinding a cancelled thread.
            static const timespec kPause = {0, 1000000};
            for (;;) nanosleep(&kPause, nullptr);
        }
        return false;
    }
    int ExitInstance() override {
        exited = true;
        return 0;
    }
};

TEST(EventTest, ManualResetStaysSignalledAutoResetWakesOnce) {
    fw::Event manual;
    ASSERT_TRUE(manual.Create(true, false));
    EXPECT_FALSE(manual.Wait(0));
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0));

    fw::Event automatic;
    ASSERT_TRUE(automatic.Create(false, true));
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));

    const auto t0 = Clock::now();
    EXPECT_FALSE(manual.Wait(100));
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(95));

    std::thread setter([&manual] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        manual.Set();
    });
    EXPECT_TRUE(manual.Wait(10000));
    setter.join();
    manual.Close();
    EXPECT_FALSE(manual.IsValid());
    EXPECT_FALSE(manual.Wait(0));
}

TEST(WorkerThreadTest, MessagesPostedRightAfterTheStartArriveInOrderUntilTheThreadEnds) {
    fw::WorkerThread* t = fw::BeginThread<Recorder>(fw::kPriorityNormal);
    ASSERT_NE(nullptr, t);
    auto* r = static_cast<Recorder*>(t);
    r->m_bAutoDelete = false;
    for (uintptr_t i = 0; i < 50; ++i) ASSERT_TRUE(r->PostThreadMessage(kRecord, i, 0));
    EXPECT_FALSE(r->WaitForEnd(0));
    ASSERT_TRUE(r->PostThreadMessage(kStop, 0, 0));
    ASSERT_TRUE(r->WaitForEnd(10000));
    EXPECT_TRUE(r->exited);
    {
        std::lock_guard<std::mutex> lock(r->mu);
        ASSERT_EQ(50u, r->seen.size());
        for (uintptr_t i = 0; i < 50; ++i) EXPECT_EQ(i, r->seen[i]);
    }
    EXPECT_FALSE(r->PostThreadMessage(kRecord, 99, 0));
    delete r;
    EXPECT_EQ(0, g_alive.load());
}

TEST(WorkerThreadTest, TerminateEndsAThreadStuckInAHandlerOrWaitingForMessages) {
    auto* stuck = fw::BeginThread<Recorder>(fw::kPriorityTimeCritical);
    ASSERT_NE(nullptr, stuck);
    stuck->m_bAutoDelete = false;
    ASSERT_TRUE(stuck->PostThreadMessage(kHang, 0, 0));
    ASSERT_TRUE(WaitFor([stuck] { return stuck->hanging.load(); }));
    EXPECT_FALSE(stuck->WaitForEnd(50));
    stuck->Terminate();
    EXPECT_TRUE(stuck->WaitForEnd(0));
    EXPECT_FALSE(stuck->exited);  // ended from outside: no orderly exit
    delete stuck;

    auto* idle = fw::BeginThread<Recorder>(fw::kPriorityNormal);
    ASSERT_NE(nullptr, idle);
    idle->m_bAutoDelete = false;
    idle->Terminate();
    EXPECT_TRUE(idle->WaitForEnd(0));
    delete idle;
    EXPECT_EQ(0, g_alive.load());
}

TEST(WorkerThreadTest, AutoDeletedThreadsFreeThemselves) {
    fw::WorkerThread* t = fw::BeginThread<Recorder>(fw::kPriorityNormal);
    ASSERT_NE(nullptr, t);
    ASSERT_TRUE(t->PostThreadMessage(kStop, 0, 0));
    EXPECT_TRUE(WaitFor([] { return g_alive.load() == 0; }));
}

std::vector<std::string>* g_debugLines = nullptr;

TEST(DebugOutputTest, TextsGoToTheHookWhenOneIsSet) {
    std::vector<std::string> lines;
    g_debugLines = &lines;
    fw::DebugOutputHook previous =
        fw::SetDebugOutputHook([](const char* text) { g_debugLines->push_back(text); });
    fw::DebugOutput("one");
    fw::SetDebugOutputHook(previous);
    fw::DebugOutput("two");
    EXPECT_EQ(std::vector<std::string>{"one"}, lines);
}

}  // namespace
