// The simulated adapter's handling of the line: torn and corrupted requests, foreign line speeds,
// answer pacing, the loader's side and the control commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "adapter/AdapterLink.h"
#include "simulator/SimFrames.h"
#include "simulator/SimOptions.h"
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

    EXPECT_EQ(e.Command("bad-crc on", 0), "OK bad-crc on");
    Feed(e, Probe());
    const Bytes bad = Drain(e);
    const Bytes good = sim::BuildFrame(0x03, "\t0\t003\x0C\t2\x0C");
    ASSERT_EQ(bad.size(), good.size());
    EXPECT_TRUE(std::equal(good.begin(), good.end() - 1, bad.begin()));
    EXPECT_NE(adapter::Crc16Xmodem(bad.data() + 2, static_cast<uint16_t>(bad.size() - 2)), 0);
    EXPECT_EQ(e.Command("bad-crc off", 0), "OK bad-crc off");
    Feed(e, Probe());
    EXPECT_EQ(Drain(e), good);
}

TEST(SimulatedLine, ControlCommandsAnswerOkOrErr) {
    FakeHost host;
    sim::Engine e(host, sim::Options{});
    for (const char* bad : {"split x", "split -1", "delay", "speed 0", "speed abc", "silent maybe", "bad-crc",
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

// The faults a client must survive without a time-out telling it: short arrays, stale repeated
// answers, late write replies, forgotten writes.
Bytes ReadPolling() {
    return sim::BuildFrame(0x0C, "\t0\t052\t0\t099\x0C");
}

// Writing element 02 of 052 with the value 15.
Bytes WriteRow7() {
    return sim::BuildFrame(0x14, "\t0\t052\t02\t1\x0C\t15\x0C");
}

std::string DataOf(const Bytes& frame) {  // between DLE STX and DLE ETX
    return frame.size() < 11 ? "" : std::string(frame.begin() + 7, frame.end() - 4);
}

TEST(SimulatedFaults, ShortArraysCarryFewerElementsAndSayHowMany) {
    FakeHost host;
    sim::Options opt;
    opt.shortArray = 50;
    sim::Engine e(host, opt);
    Feed(e, ReadPolling());
    const Bytes answer = Drain(e);
    EXPECT_EQ(adapter::Crc16Xmodem(answer.data() + 2, static_cast<uint16_t>(answer.size() - 2)), 0);
    const std::string data = DataOf(answer);
    const std::string head = "\t0\t052\t0\t050\x0C";
    ASSERT_EQ(data.compare(0, head.size(), head), 0) << data;
    EXPECT_EQ(std::count(data.begin(), data.end(), '\x0C'), 1 + 50);
    EXPECT_TRUE(host.Logged("TX fn=14 hex=10 01 10 1F 14"));
    EXPECT_NE(host.log.back().find("| values 052[0+50] (short array: 50 of 99)"), std::string::npos);

    // Shorter requests are not touched; 0 gives every element again.
    EXPECT_EQ(e.Command("short-array 2", 0), "OK short-array 2");
    Feed(e, sim::BuildFrame(0x0C, "\t0\t099\t1\t001\x0C"));
    EXPECT_EQ(DataOf(Drain(e)), "\t0\t099\t1\t001\x0C\t1207\t\x0C");
    Feed(e, sim::BuildFrame(0x0C, "\t0\t052\t97\t010\x0C"));
    EXPECT_EQ(DataOf(Drain(e)).compare(0, 14, "\t0\t052\t97\t002\x0C"), 0);
    EXPECT_EQ(e.Command("short-array 0", 0), "OK short-array 0");
    Feed(e, ReadPolling());
    EXPECT_EQ(DataOf(Drain(e)).compare(0, 13, "\t0\t052\t0\t099\x0C"), 0);
}

TEST(SimulatedFaults, RepeatsThePreviousAnswerAheadOfEachNewOneInOneWrite) {
    FakeHost host;
    sim::Options opt;
    opt.repeatPrevious = true;
    sim::Engine e(host, opt);
    const Bytes first = sim::BuildFrame(0x03, "\t0\t003\x0C\t2\x0C");
    const Bytes second = sim::BuildFrame(0x03, "\t0\t006\x0C\t17\x0C");
    // The first answer of a run has none before it.
    Feed(e, Probe());
    EXPECT_EQ(e.TakeDue(0), first);
    EXPECT_FALSE(e.HasOutput());
    EXPECT_FALSE(host.Logged("REPEAT"));

    Feed(e, sim::BuildFrame(0x1D, "\t0\t006\x0C"));
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(e.TakeDue(0), both);
    EXPECT_FALSE(e.HasOutput());
    EXPECT_TRUE(host.Logged("REPEAT hex=" + sim::HexDump(first) + " | the previous answer again"));

    // Switched off, each answer goes alone.
    EXPECT_EQ(e.Command("repeat-previous off", 0), "OK repeat-previous off");
    Feed(e, Probe());
    EXPECT_EQ(Drain(e), first);
    EXPECT_EQ(e.GetStats().answered, 3);
}

TEST(SimulatedFaults, RepliesToWritesLateAndHoldsLaterAnswersBehind) {
    FakeHost host;
    sim::Options opt;
    opt.lateWriteReplyMs = 3000;
    opt.delayMs = 100;
    sim::Engine e(host, opt);
    const Bytes reply = sim::BuildFrame(0x7F, "\t0\t052\t02\t1\x0C\t\x0C");
    const Bytes value = sim::BuildFrame(0x03, "\t0\t003\x0C\t2\x0C");
    // Reads keep the usual delay.
    Feed(e, Probe(), 500);
    EXPECT_EQ(e.NextDue(), 600);
    EXPECT_EQ(e.TakeDue(600), value);

    Feed(e, WriteRow7(), 1000);
    EXPECT_NE(host.log.back().find("| write 052[02] accepted (late by 3000 ms)"), std::string::npos);
    Feed(e, Probe(), 1500);
    EXPECT_EQ(e.NextDue(), 4000);
    EXPECT_TRUE(e.TakeDue(3999).empty());
    sim::Flow flow = sim::Flow::Hold;
    std::string note;
    EXPECT_EQ(e.TakeDue(4000, &flow, &note), reply);
    EXPECT_EQ(note, "LATE sent 3000 ms after the request | write 052[02] accepted");
    // The read that came meanwhile is answered behind the late reply, never ahead of it.
    EXPECT_EQ(e.TakeDue(4000, &flow, &note), value);
    EXPECT_EQ(note, "");

    EXPECT_EQ(e.Command("late-write-reply 0", 5000), "OK late-write-reply 0");
    Feed(e, WriteRow7(), 5000);
    EXPECT_EQ(e.NextDue(), 5100);
}

TEST(SimulatedFaults, ForgottenWritesAreAcknowledgedButNotStored) {
    FakeHost host;
    sim::Options opt;
    opt.forgetWrites = true;
    sim::Engine e(host, opt);
    const std::string accepted = "\t0\t052\t02\t1\x0C\t\x0C";
    Feed(e, WriteRow7());
    EXPECT_EQ(DataOf(Drain(e)), accepted);
    EXPECT_NE(host.log.back().find("| write 052[02] accepted (forgotten)"), std::string::npos);
    Feed(e, sim::BuildFrame(0x03, "\t0\t006\x0C\t99\x0C"));
    EXPECT_EQ(DataOf(Drain(e)), "\t0\t006\x0C\t\x0C");
    Feed(e, sim::BuildFrame(0x0C, "\t0\t052\t2\t001\x0C"));
    EXPECT_EQ(DataOf(Drain(e)), "\t0\t052\t2\t001\x0C\t2\t\xE8\xE2\x0C");
    Feed(e, sim::BuildFrame(0x1D, "\t0\t006\x0C"));
    EXPECT_EQ(DataOf(Drain(e)), "\t0\t006\x0C\t17\x0C");
    // What the adapter cannot take it still refuses.
    Feed(e, sim::BuildFrame(0x03, "\t0\t006\x0C\t" + std::string(46, '9') + "\x0C"));
    EXPECT_NE(DataOf(Drain(e)), "\t0\t006\x0C\t\x0C");

    EXPECT_EQ(e.Command("forget-writes off", 0), "OK forget-writes off");
    Feed(e, WriteRow7());
    EXPECT_EQ(DataOf(Drain(e)), accepted);
    Feed(e, sim::BuildFrame(0x0C, "\t0\t052\t2\t001\x0C"));
    EXPECT_EQ(DataOf(Drain(e)), "\t0\t052\t2\t001\x0C\t15\t\xE8\xE2\x0C");
}

TEST(SimulatedFaults, TheFirstWriteStallsTheLineAndGetsNoAnswer) {
    FakeHost host;
    sim::Options opt;
    opt.stallAtWrite = true;
    sim::Engine e(host, opt);
    Feed(e, Probe());
    EXPECT_FALSE(Drain(e).empty());  // reads are answered as usual
    Feed(e, WriteRow7(), 10);
    sim::Flow flow = sim::Flow::None;
    EXPECT_EQ(e.TakeDue(10, &flow), Bytes{sim::Engine::XOFF});
    EXPECT_EQ(flow, sim::Flow::Hold);
    EXPECT_FALSE(e.HasOutput());
    EXPECT_TRUE(e.GetOptions().stalled);
    EXPECT_TRUE(host.Logged("STALL at the first write | write 052[02+1]"));
}

// The switch table: both ends of it take the same spellings and the same values.
TEST(SimulatorSwitches, CommandLineAndCommandsShareOneTable) {
    sim::Options o;
    bool help = true;
    std::string error;
    ASSERT_TRUE(sim::ParseCommandLine({"--link",
                                       "/tmp/x",
                                       "--speed",
                                       "19200",
                                       "--mode",
                                       "loader",
                                       "--r-after",
                                       "10,5",
                                       "--ignore-write",
                                       "052:20",
                                       "--ignore-write",
                                       "006",
                                       "--bad-crc",
                                       "--short-array",
                                       "50",
                                       "--repeat-previous",
                                       "--late-write-reply",
                                       "2500",
                                       "--forget-writes",
                                       "--refuse",
                                       u8"Нет"},
                                      o, help, error))
        << error;
    EXPECT_FALSE(help);
    EXPECT_EQ(o.link, "/tmp/x");
    EXPECT_EQ(o.speed, 19200);
    EXPECT_EQ(o.mode, sim::Mode::Loader);
    EXPECT_EQ(o.rAfter, (std::vector<long>{10, 5}));
    EXPECT_EQ(o.ignoredWrites, (std::vector<std::pair<int, int>>{{52, 20}, {6, 0}}));
    EXPECT_TRUE(o.badCrc && o.repeatPrevious && o.forgetWrites);
    EXPECT_EQ(o.shortArray, 50);
    EXPECT_EQ(o.lateWriteReplyMs, 2500);
    EXPECT_EQ(o.refusal, "\x8D\xA5\xE2");
    ASSERT_TRUE(sim::ParseCommandLine({"--help"}, o, help, error));
    EXPECT_TRUE(help);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{"--speed", "1234"},
                                                                                     {"--short-array", "x"},
                                                                                     {"--late-write-reply"},
                                                                                     {"--r-after", "5,0"},
                                                                                     {"--ignore-write", "52"},
                                                                                     {"--mode", "both"},
                                                                                     {"--badcrc"},
                                                                                     {"stats"},
                                                                                     {"--R"}})
        EXPECT_FALSE(sim::ParseCommandLine(bad, o, help, error)) << bad[0];

    // Every command that sets a switch is the option's name and takes what the option takes.
    FakeHost host;
    sim::Engine e(host, sim::Options{});
    for (const char* line :
         {"short-array 50", "repeat-previous on", "late-write-reply 2500", "forget-writes on", "bad-crc on"})
        EXPECT_EQ(e.Command(line, 0), std::string("OK ") + line);
    EXPECT_TRUE(e.GetOptions().repeatPrevious && e.GetOptions().forgetWrites && e.GetOptions().badCrc);
    EXPECT_EQ(e.GetOptions().shortArray, 50);
    EXPECT_EQ(e.GetOptions().lateWriteReplyMs, 2500);
    for (const char* line : {"badcrc on", "repeat-previous", "forget-writes yes", "short-array -1",
                             "link /tmp/y", "ixon on", "help"})
        EXPECT_EQ(e.Command(line, 0).compare(0, 4, "ERR "), 0) << line;
}

}  // namespace
