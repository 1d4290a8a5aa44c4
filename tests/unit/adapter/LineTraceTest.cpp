// The line trace's own frame decoder and its line format, as krt42 and the simulator both write
// them.
#include <gtest/gtest.h>

#include <string>

#include "FrameTestSupport.h"
#include "adapter/LineTrace.h"

using namespace adapter;
using adapter_test::Bytes;
using adapter_test::Concat;
using adapter_test::WireFrame;

namespace {

const std::string kProbeText = "frame fn=1D FN_READ_PARAM fields \"0\" \"003\" | crc C515 ok\n";

std::string Decode(TraceFrameDecoder& decoder, const Bytes& bytes) {
    std::string lines;
    decoder.Feed(bytes.data(), bytes.size(), &lines);
    return lines;
}

std::string Decode(const Bytes& bytes) {
    TraceFrameDecoder decoder;
    return Decode(decoder, bytes);
}

// The frame text without its checksum part.
std::string Fields(const Bytes& frame) {
    const std::string text = Decode(frame);
    return text.substr(0, text.find(" crc "));
}

const Bytes kProbe = WireFrame(FN_READ_PARAM, "\t0\t003\f");

TEST(LineTraceDecoder, FramesShowCodeFieldsAndChecksumAndConvertNothing) {
    EXPECT_EQ(Decode(kProbe), kProbeText);
    Bytes bad = kProbe;
    bad.back() ^= 0x01;
    EXPECT_EQ(Decode(bad), "frame fn=1D FN_READ_PARAM fields \"0\" \"003\" | crc C514 bad, want C515\n");

    // OEM bytes, quotes and backslashes escaped; an empty field; a field no HT opened marked "~".
    EXPECT_EQ(Fields(WireFrame(FN_ARRAY_VALUES, "\t0\t052\f\t5\t\x8C\xE1\t\f")),
              "frame fn=14 FN_ARRAY_VALUES fields \"0\" \"052\" | \"5\" \"\\x8C\\xE1\" \"\" |");
    EXPECT_EQ(Fields(WireFrame(FN_WRITE_REPLY, "x\t\"a\\b\"\f")),
              "frame fn=7F FN_WRITE_REPLY fields ~\"x\" \"\\\"a\\\\b\\\"\" |");
    EXPECT_EQ(Fields(WireFrame(0x42, "")), "frame fn=42 no data");
    const Bytes odd = {DLE, SOH, 'A', DLE, ETX, 0x12, 0x34};
    EXPECT_EQ(Fields(odd), "frame malformed \"A\\x10\\x03\"");
}

TEST(LineTraceDecoder, SplitReadsNoiseDleAndLoneEtxLeaveTheFramesAsTheyWere) {
    // Byte by byte: nothing until the last byte, then the same text as in one read.
    const Bytes answer = WireFrame(FN_PARAM_VALUE,
                                   "\t0\t003\f\t1\x10\x10"
                                   "2\x03"
                                   "3\f");
    TraceFrameDecoder decoder;
    std::string early;
    for (size_t i = 0; i + 1 < answer.size(); ++i) early += Decode(decoder, Bytes{answer[i]});
    EXPECT_EQ(early, "");
    EXPECT_EQ(Decode(decoder, Bytes{answer.back()}), Decode(answer));
    // A doubled DLE and a 0x03 without DLE before it are data, shown as they came.
    EXPECT_EQ(Fields(answer), "frame fn=03 FN_PARAM_VALUE fields \"0\" \"003\" | \"1\\x10\\x102\\x033\" |");
    EXPECT_EQ(Decode(answer).substr(Decode(answer).size() - 4), " ok\n");

    // Noise between frames, with a DLE ETX and two bytes in it, makes no frame.
    const Bytes noise = {0x00, 0xFF, DLE, ETX, 0x55, 0xAA, 0x03, 0x10, 0x7F};
    EXPECT_EQ(Decode(decoder, Concat(Concat(noise, kProbe), Concat(noise, kProbe))), kProbeText + kProbeText);

    // Checksum bytes that are DLE, SOH or ETX neither restart nor end anything.
    for (uint8_t special : {DLE, SOH, ETX}) {
        Bytes found;
        for (int value = 0; value < 100000 && found.empty(); ++value) {
            const Bytes frame = WireFrame(FN_PARAM_VALUE, "\t0\t003\f\t" + std::to_string(value) + "\f");
            if (frame[frame.size() - 2] == special || frame.back() == special) found = frame;
        }
        ASSERT_FALSE(found.empty());
        const std::string text = Decode(decoder, Concat(found, kProbe));
        EXPECT_EQ(text, Decode(found) + kProbeText);
        EXPECT_EQ(text.find(" ok\n"), text.find('\n') - 3) << text;
    }
}

TEST(LineTraceDecoder, ANewSohCutsAFrameShortAndAFrameWithoutEndIsDroppedInBoundedRoom) {
    const Bytes torn = {DLE, SOH, DLE, US, FN_READ_PARAM, DLE, STX, HT, '0'};
    TraceFrameDecoder decoder;
    EXPECT_EQ(Decode(decoder, Concat(torn, kProbe)),
              "frame cut short after 7 bytes by a new SOH\n" + kProbeText);
    Bytes endless = {DLE, SOH};
    endless.resize(TraceFrameDecoder::MAX_FRAME + 100, 'A');
    EXPECT_EQ(Decode(decoder, Concat(endless, kProbe)),
              "frame dropped: no DLE ETX within 7168 bytes\n" + kProbeText);
}

TEST(LineTraceFormat, LinesAndEachDirectionDecodedOnItsOwn) {
    EXPECT_EQ(TraceLine(1234567, "COM3", TRACE_SENT, "10 01"), "      1234.567 COM3 > 10 01\n");
    EXPECT_EQ(TraceLine(-3, "my port\t1", TRACE_EVENT, "open"), "         0.000 my_port_1 * open\n");

    const Bytes half(kProbe.begin(), kProbe.begin() + 9), rest(kProbe.begin() + 9, kProbe.end());
    PortTrace plain("ldr", false);
    EXPECT_EQ(plain.Bytes(1000, TRACE_SENT, kProbe.data(), kProbe.size()),
              TraceLine(1000, "ldr", TRACE_SENT, TraceHex(kProbe.data(), kProbe.size())));
    PortTrace link("com", true);
    EXPECT_EQ(link.Bytes(1000, TRACE_SENT, half.data(), half.size()),
              TraceLine(1000, "com", TRACE_SENT, "10 01 10 1F 1D 10 02 09 30"));
    // The other direction's bytes do not complete the sent frame.
    EXPECT_EQ(link.Bytes(2000, TRACE_RECEIVED, rest.data(), rest.size()),
              TraceLine(2000, "com", TRACE_RECEIVED, TraceHex(rest.data(), rest.size())));
    EXPECT_EQ(link.Bytes(3000, TRACE_SENT, rest.data(), rest.size()),
              TraceLine(3000, "com", TRACE_SENT, TraceHex(rest.data(), rest.size())) +
                  TraceLine(3000, "com", TRACE_SENT, kProbeText.substr(0, kProbeText.size() - 1)));
}

}  // namespace
