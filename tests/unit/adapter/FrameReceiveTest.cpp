// The receive side of the frame codec: the byte-by-byte assembler over RxChunk, dispatch by
// function code, and the field readers that the answer handlers use.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "FrameTestSupport.h"
#include "framework/DebugOutput.h"

using namespace adapter;
using adapter_test::Bytes;
using adapter_test::Concat;
using adapter_test::FrameBody;
using adapter_test::WireFrame;

namespace {

const std::string kValueData = "\t0\t003\f\t1234\tmA\f";

Bytes Noise(size_t n, uint8_t fill) {
    return Bytes(n, fill);
}

// Feeds the bytes in driver-sized reads; returns how many reads found a good frame.
int FeedInReads(adapter_test::LinkUnderTest& t, const Bytes& bytes, size_t readSize = RX_TAKE_MAX) {
    int good = 0;
    for (size_t at = 0; at < bytes.size(); at += readSize) {
        const size_t n = std::min(readSize, bytes.size() - at);
        good += t.Feed(Bytes(bytes.begin() + static_cast<long>(at),
                             bytes.begin() + static_cast<long>(at + n))) == 0;
    }
    return good;
}

TEST(FrameReceive, GoodFrameGoesToTheHandlerOfItsCodeAndStaysInTheBuffer) {
    for (uint8_t code : {FN_PARAM_VALUE, FN_ARRAY_VALUES, FN_WRITE_REPLY}) {
        adapter_test::LinkUnderTest t;
        const Bytes frame = WireFrame(code, kValueData);
        EXPECT_EQ(t.Feed(frame), 0);
        ASSERT_EQ(t.handlers.calls.size(), 1u);
        EXPECT_EQ(t.handlers.calls[0].code, code);
        EXPECT_EQ(t.handlers.calls[0].pos, 3);  // behind DLE US code: the buffer starts after SOH
        EXPECT_EQ(t.link->state.FramePos, static_cast<int>(frame.size()) - 2);
        EXPECT_EQ(0, std::memcmp(t.link->state.FrameBuffer, frame.data() + 2, frame.size() - 2));
        EXPECT_EQ(t.link->state.TailStage, 0);

        t.handlers.answer = 2;
        EXPECT_EQ(t.link->codec.DispatchDleFrame(), 2);
    }
}

TEST(FrameReceive, UnknownCodeEntersTheValueHandlerAtTheFirstChecksumByte) {
    adapter_test::LinkUnderTest t;
    const Bytes frame = WireFrame(0x55, "\t0\t003\f");
    ASSERT_NE(frame[frame.size() - 2], DLE);  // checksum is not 10 02
    EXPECT_EQ(t.Feed(frame), 0);
    ASSERT_EQ(t.handlers.calls.size(), 1u);
    EXPECT_EQ(t.handlers.calls[0].code, FN_PARAM_VALUE);
    EXPECT_EQ(t.handlers.calls[0].pos, t.link->state.FramePos - 2);
    EXPECT_EQ(t.link->codec.FindDataStart(t.handlers.calls[0].pos), 0);
}

TEST(FrameReceive, FrameSplitOverSeveralReadsIsAssembled) {
    const Bytes frame = WireFrame(FN_PARAM_VALUE, kValueData);
    for (size_t split = 1; split < frame.size(); ++split) {
        adapter_test::LinkUnderTest t;
        EXPECT_EQ(t.Feed(Bytes(frame.begin(), frame.begin() + static_cast<long>(split))), 1) << split;
        EXPECT_EQ(t.Feed(Bytes(frame.begin() + static_cast<long>(split), frame.end())), 0) << split;
        EXPECT_EQ(t.handlers.calls.size(), 1u) << split;
    }
    adapter_test::LinkUnderTest t;
    EXPECT_EQ(FeedInReads(t, frame, 1), 1);
    ASSERT_EQ(t.handlers.calls.size(), 1u);
    EXPECT_EQ(t.handlers.calls[0].pos, 3);
}

TEST(FrameReceive, OnlyTheFirstOfTwoFramesInOneReadIsProcessed) {
    adapter_test::LinkUnderTest t;
    const Bytes first = WireFrame(FN_PARAM_VALUE, kValueData);
    const Bytes second = WireFrame(FN_WRITE_REPLY, "\t0\t006\f\f");
    EXPECT_EQ(t.Feed(Concat(first, second)), 0);
    ASSERT_EQ(t.handlers.calls.size(), 1u);
    EXPECT_EQ(t.handlers.calls[0].code, FN_PARAM_VALUE);
    EXPECT_EQ(t.Feed(Bytes{'x'}), 1);
    EXPECT_EQ(t.handlers.calls.size(), 1u);
    // The assembler is ready for the next frame all the same.
    EXPECT_EQ(t.Feed(second), 0);
    ASSERT_EQ(t.handlers.calls.size(), 2u);
    EXPECT_EQ(t.handlers.calls[1].code, FN_WRITE_REPLY);
}

TEST(FrameReceive, ChecksumBytesEqualToControlBytesAreTakenAsChecksum) {
    // Look for answers whose checksum has 01, 03 or 10 in either byte.
    for (uint8_t control : {SOH, ETX, DLE}) {
        for (int which = 0; which < 2; ++which) {
            Bytes frame;
            for (int v = 0; v < 200000 && frame.empty(); ++v) {
                Bytes f = WireFrame(FN_PARAM_VALUE, "\t0\t003\f\t" + std::to_string(v) + "\f");
                if (f[f.size() - 2 + static_cast<size_t>(which)] == control) frame = f;
            }
            ASSERT_FALSE(frame.empty()) << int(control) << " " << which;
            adapter_test::LinkUnderTest t;
            EXPECT_EQ(t.Feed(frame), 0) << int(control) << " " << which;
            EXPECT_EQ(t.handlers.calls.size(), 1u);
            EXPECT_EQ(t.link->state.FramePos, static_cast<int>(frame.size()) - 2);
            // Nothing was left half-open for the next frame.
            EXPECT_EQ(t.Feed(WireFrame(FN_WRITE_REPLY, "\t0\t006\f\f")), 0);
            EXPECT_EQ(t.handlers.calls.size(), 2u);
        }
    }
}

TEST(FrameReceive, LoneSohInsideTheDataRestartsTheFrame) {
    adapter_test::LinkUnderTest t;
    // A frame whose data hold 01 is cut there, even with a checksum right for all of it.
    EXPECT_EQ(t.Feed(WireFrame(FN_PARAM_VALUE,
                               "\t0\t003\f\t12\x01"
                               "34\f")),
              1);
    EXPECT_TRUE(t.handlers.calls.empty());

    // What follows a lone 01 is a frame of its own, whatever came before.
    const Bytes good = WireFrame(FN_ARRAY_VALUES, "\t0\t052\t0\t1\f\t20\f");
    Bytes stream = {DLE, SOH, DLE, US, FN_PARAM_VALUE, DLE, STX, HT, '7', SOH};
    stream.insert(stream.end(), good.begin() + 2, good.end());
    EXPECT_EQ(t.Feed(stream), 0);
    ASSERT_EQ(t.handlers.calls.size(), 1u);
    EXPECT_EQ(t.handlers.calls[0].code, FN_ARRAY_VALUES);
}

TEST(FrameReceive, LoneEtxInsideTheDataDoesNotEndTheFrame) {
    struct Case {
        uint8_t code;
        std::string data;
    };
    std::vector<Case> cases = {
        {FN_ARRAY_VALUES, "\t0\t052\t0\t1\f\t5\x03-7\f"},
        // Straight before DLE ETX: taken for an end, it would swallow the real end as checksum.
        {FN_WRITE_REPLY, "\t0\t003\f\t12\x03"},
    };
    // The two bytes after the 03 are the checksum of everything up to it: an assembler that ends
    // a frame at any 03 would find a good frame there and dispatch it cut short.
    for (int v = 0; v < 1000; ++v) {
        const std::string head = "\t0\t006\f\t" + std::to_string(v) + "\x03";
        Bytes cut = FrameBody(FN_ARRAY_VALUES, head);
        cut.resize(cut.size() - 2);  // without the DLE ETX that FrameBody closes it with
        const uint16_t crc = Crc16Xmodem(cut.data() + 2, static_cast<uint16_t>(cut.size() - 2));
        const uint8_t hi = static_cast<uint8_t>(crc >> 8);
        const uint8_t lo = static_cast<uint8_t>(crc & 0xFF);
        auto plain = [](uint8_t b) { return b != SOH && b != ETX && b != DLE; };
        if (plain(hi) && plain(lo)) {
            cases.push_back({FN_ARRAY_VALUES, head + static_cast<char>(hi) + static_cast<char>(lo) + "\f"});
            break;
        }
    }
    ASSERT_EQ(cases.size(), 3u);

    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const Bytes frame = WireFrame(c.code, c.data);
        for (size_t readSize : {frame.size(), size_t{1}}) {
            const auto where = ::testing::Message() << "case " << i << " in reads of " << readSize;
            adapter_test::LinkUnderTest t;
            EXPECT_EQ(FeedInReads(t, frame, readSize), 1) << where;
            ASSERT_EQ(t.handlers.calls.size(), 1u) << where;
            EXPECT_EQ(t.handlers.calls[0].code, c.code) << where;
            EXPECT_EQ(t.handlers.calls[0].pos, 3) << where;
            // The whole frame, its 03 and checksum included, is in the buffer.
            ASSERT_EQ(t.link->state.FramePos, static_cast<int>(frame.size()) - 2) << where;
            EXPECT_EQ(0, std::memcmp(t.link->state.FrameBuffer, frame.data() + 2, frame.size() - 2)) << where;
            EXPECT_EQ(t.link->state.TailStage, 0) << where;
        }
    }
}

TEST(FrameReceive, BadChecksumIsDroppedSilentlyAndTheNextFrameIsNotLost) {
    adapter_test::LinkUnderTest t;
    Bytes bad = WireFrame(FN_PARAM_VALUE, kValueData);
    bad.back() ^= 0x5A;
    const Bytes good = WireFrame(FN_WRITE_REPLY, "\t0\t006\f\f");

    EXPECT_EQ(t.Feed(bad), 1);
    EXPECT_TRUE(t.handlers.calls.empty());
    EXPECT_EQ(t.link->state.TailStage, 0);
    EXPECT_EQ(t.Feed(good), 0);
    EXPECT_EQ(t.handlers.calls.size(), 1u);

    EXPECT_EQ(t.Feed(Concat(bad, good)), 0);
    ASSERT_EQ(t.handlers.calls.size(), 2u);
    EXPECT_EQ(t.handlers.calls[1].code, FN_WRITE_REPLY);
}

TEST(FrameReceive, EveryCorruptedByteOfAGoodFrameIsRefused) {
    const Bytes good = WireFrame(FN_PARAM_VALUE, kValueData);
    const Bytes next = WireFrame(FN_WRITE_REPLY, "\t0\t003\f\f");
    adapter_test::LinkUnderTest t;
    ASSERT_EQ(t.Feed(good), 0);
    int expectedCalls = 1;
    // Byte 0, the DLE before SOH, is outside the checked body and may be anything.
    for (size_t i = 1; i < good.size(); ++i) {
        for (int variant = 0; variant < 10; ++variant) {
            static const uint8_t kXor[] = {0x01, 0x10, 0x80, 0xFF};
            static const uint8_t kPut[] = {SOH, STX, ETX, DLE, US, HT};
            Bytes bad = good;
            if (variant < 4) {
                bad[i] ^= kXor[variant];
            } else if (bad[i] != kPut[variant - 4]) {
                bad[i] = kPut[variant - 4];
            } else {
                continue;
            }
            const auto where = ::testing::Message() << "byte " << i << " variant " << variant;
            EXPECT_EQ(t.Feed(bad), 1) << where;
            EXPECT_EQ(t.handlers.calls.size(), static_cast<size_t>(expectedCalls)) << where;
            // Next read: a good frame is taken.
            EXPECT_EQ(t.Feed(next), 0) << where;
            // Same read: the good frame behind the bad one is taken too.
            EXPECT_EQ(t.Feed(Concat(bad, next)), 0) << where;
            expectedCalls += 2;
            ASSERT_EQ(t.handlers.calls.size(), static_cast<size_t>(expectedCalls)) << where;
            EXPECT_EQ(t.handlers.calls.back().code, FN_WRITE_REPLY) << where;
        }
    }
}

TEST(FrameReceive, BufferWrapsAfter7167BytesAndLaterFramesAreIntact) {
    const Bytes good = WireFrame(FN_PARAM_VALUE, kValueData);
    {
        // A frame that starts near the buffer's end.
        adapter_test::LinkUnderTest t;
        EXPECT_EQ(FeedInReads(t, Noise(7160, 'n')), 0);
        EXPECT_EQ(t.link->state.FramePos, 7160);
        EXPECT_EQ(t.Feed(good), 0);
        ASSERT_EQ(t.handlers.calls.size(), 1u);
        EXPECT_EQ(t.handlers.calls[0].pos, 3);
    }
    {
        // A stream without SOH goes round and round.
        adapter_test::LinkUnderTest t;
        EXPECT_EQ(FeedInReads(t, Noise(2 * 7167 + 50, 'n')), 0);
        EXPECT_EQ(t.link->state.FramePos, 50);
        EXPECT_EQ(t.link->state.FrameBuffer[7166], 'n');
        EXPECT_EQ(t.link->state.FrameBuffer[7167], 0);  // never written
        EXPECT_EQ(t.Feed(good), 0);
        EXPECT_EQ(t.handlers.calls.size(), 1u);
    }
    {
        // A frame longer than the buffer cannot be taken, and does not spoil the next one.
        adapter_test::LinkUnderTest t;
        const Bytes huge = WireFrame(FN_ARRAY_VALUES, "\t0\t052\t0\t1\f\t" + std::string(7300, '5') + "\f");
        EXPECT_EQ(FeedInReads(t, huge), 0);
        EXPECT_TRUE(t.handlers.calls.empty());
        EXPECT_EQ(t.Feed(good), 0);
        EXPECT_EQ(t.handlers.calls.size(), 1u);
    }
}

TEST(FrameReceive, AReadIsLookedAtUpTo6140Bytes) {
    const Bytes good = WireFrame(FN_PARAM_VALUE, kValueData);
    {
        adapter_test::LinkUnderTest t;
        EXPECT_EQ(t.Feed(Concat(Noise(RX_TAKE_MAX - good.size(), 'n'), Concat(good, Noise(60, 'n')))), 0);
        EXPECT_EQ(t.handlers.calls.size(), 1u);
    }
    {
        // One byte later the frame's last checksum byte lies beyond what is looked at.
        adapter_test::LinkUnderTest t;
        EXPECT_EQ(t.Feed(Concat(Noise(RX_TAKE_MAX - good.size() + 1, 'n'), good)), 1);
        EXPECT_TRUE(t.handlers.calls.empty());
        EXPECT_EQ(t.link->state.FramePos, static_cast<int>(good.size()) - 3);
    }
    {
        // A count beyond the chunk itself stays inside it.
        adapter_test::LinkUnderTest t;
        std::memset(t.link->state.RxChunk, 'n', sizeof t.link->state.RxChunk);
        t.link->state.RxCount = 100000;
        EXPECT_EQ(t.link->codec.ReceiveDleBytes(), 1);
        EXPECT_EQ(t.link->state.FramePos, RX_TAKE_MAX);
    }
}

std::string g_debugText;
void CatchDebug(const char* text) {
    g_debugText += text;
}

TEST(FrameReceive, EmptyReadOnlyWritesTheDebuggerLine) {
    adapter_test::LinkUnderTest t;
    const Bytes good = WireFrame(FN_PARAM_VALUE, kValueData);
    ASSERT_EQ(t.Feed(Bytes(good.begin(), good.begin() + 9)), 1);
    const auto old = fw::SetDebugOutputHook(CatchDebug);
    g_debugText.clear();
    EXPECT_EQ(t.Feed({}), 1);
    t.link->state.RxCount = -5;
    EXPECT_EQ(t.link->codec.ReceiveDleBytes(), 1);
    fw::SetDebugOutputHook(old);
    EXPECT_EQ(g_debugText, "Read 0 bytes and didn't overlap.\n\rRead 0 bytes and didn't overlap.\n\r");
    EXPECT_EQ(t.link->state.FramePos, 7);
    // The half frame goes on where it stopped.
    EXPECT_EQ(t.Feed(Bytes(good.begin() + 9, good.end())), 0);
}

TEST(FieldReaders, NumberField) {
    adapter_test::LinkUnderTest t;
    struct Case {
        std::string bytes;
        int value;
        int endPos;
    } cases[] = {
        {"\t\t", EMPTY_FIELD, 1},
        {"\t\f", EMPTY_FIELD, 1},
        {"\t052\f", 52, 4},
        {"\t0A\t", 10, 3},
        {"\t1\t2", 1, 2},
        {"\t" + std::string(40, '9') + "\f", INT32_MAX, 41},
        {"\t" + std::string(40, '/') + "\f", INT32_MIN, 41},  // '/' counts -1
        {"\t123", 123, 4},                                    // runs to FramePos
        {"\t", EMPTY_FIELD, 1},                               // nothing left in the frame
    };
    for (const Case& c : cases) {
        std::memset(t.link->state.FrameBuffer, '7', 64);  // stale bytes behind the frame
        t.LoadFrame(c.bytes);
        int pos = 0;
        EXPECT_EQ(t.link->codec.ReadNumberField(pos), c.value) << c.bytes;
        EXPECT_EQ(pos, c.endPos) << c.bytes;
    }

    // Positions at or past the frame's end read as empty and stay at its end.
    t.LoadFrame("\t5\f");
    int pos = 3;
    EXPECT_EQ(t.link->codec.ReadNumberField(pos), EMPTY_FIELD);
    EXPECT_EQ(pos, 3);
    pos = 50;
    EXPECT_EQ(t.link->codec.ReadNumberField(pos), EMPTY_FIELD);
    EXPECT_EQ(pos, 3);

    // A FramePos beyond the buffer: reading stops at the buffer's end.
    std::memcpy(t.link->state.FrameBuffer + FRAME_BUFFER_SIZE - 8, "\t1234567", 8);
    t.link->state.FramePos = 9000;
    t.link->state.RxPending = 8;
    pos = FRAME_BUFFER_SIZE - 8;
    EXPECT_EQ(t.link->codec.ReadNumberField(pos), 1234567);
    EXPECT_EQ(pos, FRAME_BUFFER_SIZE);
}

TEST(FieldReaders, DataStart) {
    adapter_test::LinkUnderTest t;
    t.LoadFrame(std::string("\x10\x1F\x03\x10\x02\t0\x10\x02", 9));
    EXPECT_EQ(t.link->codec.FindDataStart(0), 5);
    EXPECT_EQ(t.link->codec.FindDataStart(5), 9);
    EXPECT_EQ(t.link->codec.FindDataStart(-20), 5);
    t.link->state.FramePos = 8;  // the second pair is cut by the frame's end
    EXPECT_EQ(t.link->codec.FindDataStart(5), 0);
    EXPECT_EQ(t.link->codec.FindDataStart(100), 0);

    // STX only counts straight after a DLE.
    t.LoadFrame(std::string("\x02\x10\x41\x02\x10\x10\x02", 7));
    EXPECT_EQ(t.link->codec.FindDataStart(0), 7);
    t.LoadFrame(std::string("\x02\x10\x41\x02", 4));
    EXPECT_EQ(t.link->codec.FindDataStart(0), 0);
}

}  // namespace
