// The simulated adapter's handling of the line: torn and corrupted requests, foreign line speeds,
// answer pacing, the loader's side and the control commands.
#include <gtest/gtest.h>

#include <random>

#include "adapter/AdapterLink.h"
#include "simulator/SimFrames.h"
#include "tests/unit/simulator/SimTestSupport.h"

namespace {

using simtest::Bytes;
using simtest::Drain;
using simtest::FakeHost;
using simtest::Feed;

Bytes Probe() {
    return sim::BuildFrame(0x1D, "\t0\t003\x0C");
}

Bytes AllSteps() {
    Bytes all;
    const char* const reads[] = {"\t0\t003\x0C", "\t0\t006\x0C", "\t0\t099\x0C"};
    const char* const arrays[] = {"\t0\t099\t1\t001\x0C", "\t0\t099\t2\t001\x0C", "\t0\t052\t0\t099\x0C"};
    for (const char* r : reads) {
        Bytes f = sim::BuildFrame(0x1D, r);
        all.insert(all.end(), f.begin(), f.end());
    }
    for (const char* r : arrays) {
        Bytes f = sim::BuildFrame(0x0C, r);
        all.insert(all.end(), f.begin(), f.end());
    }
    return all;
}

TEST(SimulatedLine, NeverAnswersACorruptedRequestAndKeepsTheNextGoodOne) {
    FakeHost host;
    sim::Engine e(host, sim::Options{});
    Feed(e, Probe());
    const Bytes answer = Drain(e);
    ASSERT_FALSE(answer.empty());
    const Bytes probe = Probe();
    for (std::size_t i = 0; i < probe.size(); ++i) {
        for (uint8_t flip : {0x01, 0x10, 0x80, 0xFF}) {
            Bytes bad = probe;
            bad[i] ^= flip;
            Feed(e, bad);
            // A corruption may leave a frame open; the next good one starts afresh all the same.
            Feed(e, probe);
            EXPECT_EQ(Drain(e), answer) << "byte " << i << " ^ " << int(flip);
        }
    }
    EXPECT_GT(e.GetStats().badCrc, 0);
    EXPECT_EQ(e.GetStats().answered, 1 + static_cast<long>(probe.size()) * 4);
}

TEST(SimulatedLine, ResynchronisesOnDleSohAfterNoise) {
    FakeHost host;
    sim::Engine e(host, sim::Options{});
    Bytes stream = {0x00, 0x10, 0x10, 0x41, 0x03, 0x10, 0x03, 0xFF};  // noise, a stray DLE ETX
    const Bytes probe = Probe();
    stream.insert(stream.end(), probe.begin(), probe.begin() + 10);  // a request torn off
    stream.insert(stream.end(), probe.begin(), probe.end());
    stream.insert(stream.end(), 9000, 0x30);  // a long run without a frame
    stream.push_back(0x10);
    stream.push_back(0x01);
    stream.insert(stream.end(), 9000, 0x31);  // a frame that never ends
    stream.insert(stream.end(), probe.begin(), probe.end());
    Feed(e, stream);
    Bytes expected = sim::BuildFrame(0x03, "\t0\t003\x0C\t2\x0C");
    const Bytes once = expected;
    expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_EQ(Drain(e), expected);
    EXPECT_EQ(e.GetStats().answered, 2);
    EXPECT_GT(e.GetStats().noise, 18000);
    EXPECT_TRUE(host.Logged("NOISE n="));
}

TEST(SimulatedLine, AssemblesRequestsWhateverTheirPieces) {
    const Bytes stream = AllSteps();
    FakeHost wholeHost;
    sim::Engine whole(wholeHost, sim::Options{});
    Feed(whole, stream);
    const Bytes expected = Drain(whole);
    EXPECT_EQ(whole.GetStats().answered, 6);

    FakeHost byteHost;
    sim::Engine bytewise(byteHost, sim::Options{});
    for (uint8_t b : stream) Feed(bytewise, Bytes{b});
    EXPECT_EQ(Drain(bytewise), expected);

    std::mt19937 rng(42);
    for (int round = 0; round < 20; ++round) {
        FakeHost h;
        sim::Engine e(h, sim::Options{});
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 23, stream.size() - at);
            e.OnReceived(stream.data() + at, n, 0);
            at += n;
        }
        EXPECT_EQ(Drain(e), expected) << "round " << round;
    }
}

TEST(SimulatedLine, PacesSplitAndDelayedAnswers) {
    FakeHost host;
    sim::Options opt;
    opt.split = 5;
    opt.delayMs = 100;
    sim::Engine e(host, opt);
    Feed(e, Probe(), 1000);
    const Bytes whole = sim::BuildFrame(0x03, "\t0\t003\x0C\t2\x0C");  // 21 bytes: 5 pieces
    EXPECT_TRUE(e.TakeDue(1099).empty());
    Bytes got;
    int64_t t = 1100;
    for (int piece = 0; piece < 5; ++piece, t += sim::Engine::SPLIT_PAUSE_MS) {
        EXPECT_EQ(e.NextDue(), t);
        EXPECT_TRUE(e.TakeDue(t - 1).empty());
        const Bytes p = e.TakeDue(t);
        EXPECT_EQ(p.size(), piece < 4 ? 5u : 1u);
        got.insert(got.end(), p.begin(), p.end());
    }
    EXPECT_FALSE(e.HasOutput());
    EXPECT_EQ(got, whole);

    // A second answer queued behind a slower one never overtakes it.
    EXPECT_EQ(e.Command("split 0", 2000), "OK split 0");
    Feed(e, Probe(), 2000);
    EXPECT_EQ(e.Command("delay 0", 2000), "OK delay 0");
    Feed(e, Probe(), 2010);
    EXPECT_EQ(e.NextDue(), 2100);
    EXPECT_EQ(e.TakeDue(2100), whole);
    EXPECT_EQ(e.NextDue(), 2100);
}

TEST(SimulatedLine, SilentAndBadChecksumModes) {
    FakeHost host;
    sim::Engine e(host, sim::Options{});
    EXPECT_EQ(e.Command("silent on", 0), "OK silent on");
    Feed(e, Probe());
    EXPECT_FALSE(e.HasOutput());
    EXPECT_EQ(e.GetStats().silenced, 1);
    EXPECT_EQ(e.Command("silent off", 0), "OK silent off");

    EXPECT_EQ(e.Command("badcrc on", 0), "OK badcrc on");
    Feed(e, Probe());
    const Bytes bad = Drain(e);
    const Bytes good = sim::BuildFrame(0x03, "\t0\t003\x0C\t2\x0C");
    ASSERT_EQ(bad.size(), good.size());
    EXPECT_TRUE(std::equal(good.begin(), good.end() - 1, bad.begin()));
    EXPECT_NE(adapter::Crc16Xmodem(bad.data() + 2, static_cast<uint16_t>(bad.size() - 2)), 0);
    EXPECT_EQ(e.Command("badcrc off", 0), "OK badcrc off");
    Feed(e, Probe());
    EXPECT_EQ(Drain(e), good);
}

TEST(SimulatedLine, ControlCommandsAnswerOkOrErr) {
    FakeHost host;
    sim::Engine e(host, sim::Options{});
    for (const char* bad : {"split x", "split -1", "delay", "speed 0", "speed abc", "silent maybe", "badcrc",
                            "refuse", "frob", "unplug now", "R 2"})
        EXPECT_EQ(e.Command(bad, 0).compare(0, 4, "ERR "), 0) << bad;
    EXPECT_EQ(e.Command("unplug\r", 0), "OK unplugged");
    EXPECT_EQ(e.Command("replug", 0), "OK replugged /dev/pts/99");
    EXPECT_EQ(host.unplugs, 1);
    EXPECT_EQ(host.replugs, 1);
    Feed(e, Probe());
    Feed(e, Bytes{0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x10, 0x03, 0x00, 0x00});
    EXPECT_EQ(e.Command("stats", 0).compare(0, 24, "OK rx_bytes=29 frames=1 "), 0);
    EXPECT_NE(e.Command("stats", 0).find(" answered=1 "), std::string::npos);
    EXPECT_NE(e.Command("stats", 0).find(" bad_crc=1 "), std::string::npos);
    // Unplugging drops what was still waiting to go out.
    EXPECT_TRUE(e.HasOutput());
    e.Command("unplug", 0);
    EXPECT_FALSE(e.HasOutput());
    EXPECT_EQ(e.Command("quit", 0), "OK quit");
    EXPECT_EQ(host.quits, 1);
}

TEST(SimulatedLoaderSide, CapturesEveryByteAndSendsRAfterTheGivenCounts) {
    FakeHost host;
    sim::Options opt;
    opt.mode = sim::Mode::Loader;
    opt.rAfter = {20, 10};
    sim::Engine e(host, opt);
    Bytes sent;
    for (int chunk = 0; chunk < 3; ++chunk) {
        Bytes b(8, static_cast<uint8_t>('a' + chunk));
        if (chunk == 0) b[0] = b[1] = '+';
        sent.insert(sent.end(), b.begin(), b.end());
        Feed(e, b, chunk * 20);
        // 'R' once the 10th byte is in (chunk 1), again at the 20th (chunk 2); frames mean nothing here.
        EXPECT_EQ(Drain(e), chunk == 0 ? Bytes{} : Bytes{'R'}) << chunk;
    }
    Feed(e, Probe());
    EXPECT_FALSE(e.HasOutput());
    const Bytes probe = Probe();
    sent.insert(sent.end(), probe.begin(), probe.end());
    EXPECT_EQ(host.captured, sent);
    EXPECT_EQ(e.GetStats().rSent, 2);
    EXPECT_TRUE(host.Logged("RXBYTES n=8 total=24"));
    EXPECT_TRUE(host.Logged("LINE speed=9600 want=9600 format=8N1 cs8=1 parenb=0 cstopb=0"));

    host.line.parenb = true;
    host.line.cs8 = false;
    Feed(e, Bytes{1});
    EXPECT_TRUE(host.Logged("LINE speed=9600 want=9600 format=7E1 cs8=0 parenb=1 cstopb=0"));
}

TEST(SimulatedLoaderSide, SendsRPlainOrStalledAndMarksTheStallForTheLine) {
    FakeHost host;
    sim::Options opt;
    opt.mode = sim::Mode::Loader;
    opt.ixon = true;
    sim::Engine e(host, opt);
    EXPECT_EQ(e.Command("R plain", 100), "OK R plain");
    sim::Flow flow = sim::Flow::Hold;
    EXPECT_EQ(e.TakeDue(100, &flow), Bytes{'R'});
    EXPECT_EQ(flow, sim::Flow::None);
    EXPECT_FALSE(e.HasOutput());
    // The stall holds the program's writes, lets the 'R' through and releases them later.
    EXPECT_EQ(e.Command("R", 100), "OK R");
    EXPECT_EQ(e.TakeDue(100, &flow), Bytes{sim::Engine::XOFF});
    EXPECT_EQ(flow, sim::Flow::Hold);
    EXPECT_EQ(e.TakeDue(100, &flow), Bytes{'R'});
    EXPECT_EQ(flow, sim::Flow::None);
    EXPECT_EQ(e.TakeDue(100 + sim::Engine::STALL_HOLD_MS, &flow), Bytes{sim::Engine::XON});
    EXPECT_EQ(flow, sim::Flow::Release);
    EXPECT_EQ(e.Command("R stalled", 0), "OK R stalled");
    EXPECT_EQ(Drain(e), (Bytes{sim::Engine::XOFF, 'R', sim::Engine::XON}));
    EXPECT_EQ(e.Command("R now", 0).compare(0, 4, "ERR "), 0);
}

TEST(SimulatedLoaderSide, RestartsAgainAfterEveryNBytesForEver) {
    FakeHost host;
    sim::Options opt;
    opt.mode = sim::Mode::Loader;
    opt.rEvery = 10;
    sim::Engine e(host, opt);
    Feed(e, Bytes(9, '+'));
    EXPECT_FALSE(e.HasOutput());
    // Counted from the last 'R', one 'R' a read however long it is.
    for (int round = 0; round < 20; ++round) {
        Feed(e, Bytes(round == 0 ? 1 : 25, 'a'));
        ASSERT_EQ(Drain(e), Bytes{'R'}) << round;
    }
    EXPECT_EQ(e.Command("r-every 0", 0), "OK r-every 0");
    Feed(e, Bytes(100, 'f'));
    EXPECT_FALSE(e.HasOutput());
}

TEST(SimulatedLine, UnplugsForGoodOnceTheReceivedCountIsReached) {
    FakeHost host;
    sim::Options opt;
    opt.unplugAfter = static_cast<long>(Probe().size()) * 2;
    sim::Engine e(host, opt);
    Feed(e, Probe());
    EXPECT_FALSE(Drain(e).empty());
    Feed(e, Probe());
    // The request that reaches the count gets no answer: the line is gone, and stays gone.
    EXPECT_EQ(host.unplugs, 1);
    EXPECT_FALSE(e.HasOutput());
    Feed(e, Probe());
    EXPECT_EQ(host.unplugs, 1);
    // Armed by the command: N more bytes from then on.
    EXPECT_EQ(e.Command("unplug-after 4", 0), "OK unplug-after 4");
    Feed(e, Bytes(3, 0));
    EXPECT_EQ(host.unplugs, 1);
    Feed(e, Bytes(1, 0));
    EXPECT_EQ(host.unplugs, 2);
}

}  // namespace
