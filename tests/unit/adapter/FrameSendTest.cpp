// The send side of the frame codec: checksum, frames on the wire, the length cap, the frames
// that wait while a write is still going out, and the OEM text conversion of the link host.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>

#include "FrameTestSupport.h"
#include "tests/support/FakeSerialApi.h"

using namespace adapter;
using adapter_test::Bytes;

namespace {

constexpr unsigned kPort = 3;

class FrameSend : public ::testing::Test {
  protected:
    void SetUp() override {
        serial::ComOpenBlock open;
        open.port = kPort;
        open.speed = 9600;
        ASSERT_EQ(driver.Command(serial::COM_OPEN, &open), serial::COM_OK);
    }
    void TearDown() override {
        api.BlockWrites(false);
        api.ReleaseWrites();
        driver.Command(serial::COM_CLOSE, nullptr);
    }

    Bytes OnWire() {
        EXPECT_TRUE(krt_test::WaitUntilNotBusy(driver));
        return api.Written(kPort);
    }
    Bytes SendBlockBytes() const {
        const auto& block = t.link->state.SendBlock;
        return Bytes(block.data, block.data + block.length);
    }
    // Sends the frame and returns its bytes as they went out on the wire.
    Bytes SendAlone(const Bytes& frame) {
        Bytes z = frame;
        z.push_back(0);
        const size_t before = api.Written(kPort).size();
        EXPECT_EQ(t.link->codec.SendDleFrame(z.data()), 0);
        Bytes wire = OnWire();
        return Bytes(wire.begin() + static_cast<long>(before), wire.end());
    }
    // Flushes on each poll, as the link timer does at every tick, until nothing is due.
    bool FlushUntilNothingDue() {
        return krt_test::WaitFor([&] {
            t.link->codec.FlushDueFrames();
            return !t.link->codec.FrameDue();
        });
    }

    adapter_test::LinkUnderTest t;
    krt_test::FakeSerialApi& api = t.api;
    serial::ComDriver& driver = t.driver;
};

TEST(Crc16Xmodem, CheckValueAndZeroOverBodyWithItsChecksum) {
    const char* digits = "123456789";
    EXPECT_EQ(Crc16Xmodem(reinterpret_cast<const uint8_t*>(digits), 9), 0x31C3);
    EXPECT_EQ(Crc16Xmodem(nullptr, 0), 0);

    Bytes frame = adapter_test::WireFrame(FN_ARRAY_VALUES, "\t0\t052\t0\t2\f\t20\f\t5\f");
    EXPECT_EQ(Crc16Xmodem(frame.data() + 2, static_cast<uint16_t>(frame.size() - 2)), 0);
    frame[9] ^= 0x04;
    EXPECT_NE(Crc16Xmodem(frame.data() + 2, static_cast<uint16_t>(frame.size() - 2)), 0);
}

TEST_F(FrameSend, ProbeAndReadRequestsGoOutWithTheirChecksums) {
    Bytes probe(PROBE_FRAME, PROBE_FRAME + 16);
    EXPECT_EQ(PROBE_FRAME[16], 0);
    const Bytes probeWire = {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30,
                             0x09, 0x30, 0x30, 0x33, 0x0C, 0x10, 0x03, 0xC5, 0x15};
    EXPECT_EQ(t.link->codec.SendDleFrame(PROBE_FRAME), 0);
    EXPECT_EQ(OnWire(), probeWire);
    EXPECT_EQ(Crc16Xmodem(probeWire.data() + 2, 16), 0);

    struct Case {
        Bytes frame;
        uint8_t hi, lo;
    } cases[] = {
        {{0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39, 0x39, 0x0C, 0x10, 0x03},
         0x05,
         0xC2},
        {{0x10, 0x01, 0x10, 0x1F, 0x0C, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30,
          0x39, 0x39, 0x09, 0x31, 0x09, 0x30, 0x30, 0x31, 0x0C, 0x10, 0x03},
         0xB1,
         0x83},
        {{0x10, 0x01, 0x10, 0x1F, 0x0C, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30,
          0x35, 0x32, 0x09, 0x30, 0x09, 0x30, 0x39, 0x39, 0x0C, 0x10, 0x03},
         0xD3,
         0xA2},
    };
    for (const Case& c : cases) {
        Bytes expected = c.frame;
        expected.push_back(c.hi);
        expected.push_back(c.lo);
        EXPECT_EQ(SendAlone(c.frame), expected);
        // The block keeps the frame until the next send: the worker reads it from there.
        EXPECT_EQ(SendBlockBytes(), expected);
    }
}

TEST_F(FrameSend, FrameLengthIsCappedAt6000AndShortFramesStayInBounds) {
    Bytes longFrame(7000, 'x');
    longFrame[0] = DLE;
    longFrame[1] = SOH;
    const Bytes wire = SendAlone(longFrame);
    ASSERT_EQ(wire.size(), 6002u);
    EXPECT_TRUE(std::equal(wire.begin(), wire.begin() + 6000, longFrame.begin()));
    EXPECT_EQ(Crc16Xmodem(wire.data() + 2, 6000), 0);

    // Fewer bytes than DLE SOH: nothing to checksum, nothing read beyond the frame.
    EXPECT_EQ(SendAlone({DLE}), (Bytes{DLE, 0, 0}));
    EXPECT_EQ(SendAlone({}), (Bytes{0, 0}));
}

TEST_F(FrameSend, FrameFallingDueDuringAWriteWaitsWithoutTouchingTheBlock) {
    api.BlockWrites(true);
    EXPECT_EQ(t.link->codec.SendDleFrame(PROBE_FRAME), 0);
    ASSERT_TRUE(api.WaitForBlockedWrite());
    const Bytes inFlight = SendBlockBytes();

    Bytes second = adapter_test::FrameBody(FN_READ_ARRAY, "\t0\t099\t1\t001\f");
    Bytes secondZ = second;
    secondZ.push_back(0);
    EXPECT_EQ(t.link->codec.SendDleFrame(secondZ.data()), 0);
    EXPECT_TRUE(t.link->codec.FrameDue());
    EXPECT_EQ(SendBlockBytes(), inFlight);

    // A tick while the write still hangs keeps it waiting.
    t.link->codec.FlushDueFrames();
    EXPECT_TRUE(t.link->codec.FrameDue());
    EXPECT_EQ(SendBlockBytes(), inFlight);

    api.BlockWrites(false);
    api.ReleaseWrites();
    ASSERT_TRUE(FlushUntilNothingDue());
    Bytes expected = inFlight;
    const Bytes secondWire = adapter_test::WireFrame(FN_READ_ARRAY, "\t0\t099\t1\t001\f");
    expected.insert(expected.end(), secondWire.begin(), secondWire.end());
    EXPECT_EQ(OnWire(), expected);
}

TEST_F(FrameSend, DueFramesKeepTheirOrderAndTheNewestIsRefusedWhenAllSlotsAreFull) {
    auto request = [](int i) {
        return adapter_test::FrameBody(FN_READ_PARAM, "\t0\t00" + std::to_string(i) + "\f");
    };
    auto send = [&](int i) {
        Bytes z = request(i);
        z.push_back(0);
        return t.link->codec.SendDleFrame(z.data());
    };
    api.BlockWrites(true);
    EXPECT_EQ(send(0), 0);
    ASSERT_TRUE(api.WaitForBlockedWrite());
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(send(i), 0) << i;
    EXPECT_EQ(send(5), 1);  // no slot left: refused, not silently lost

    api.BlockWrites(false);
    api.ReleaseWrites();
    // A send while frames are due goes behind them, even when the channel is free by then.
    ASSERT_TRUE(krt_test::WaitUntilNotBusy(driver));
    EXPECT_EQ(send(6), 0);
    ASSERT_TRUE(FlushUntilNothingDue());

    Bytes expected;
    for (int i : {0, 1, 2, 3, 4, 6}) {
        const Bytes b = request(i);
        const uint16_t crc = Crc16Xmodem(b.data() + 2, static_cast<uint16_t>(b.size() - 2));
        expected.insert(expected.end(), b.begin(), b.end());
        expected.push_back(static_cast<uint8_t>(crc >> 8));
        expected.push_back(static_cast<uint8_t>(crc & 0xFF));
    }
    EXPECT_EQ(OnWire(), expected);
}

TEST(OemText, DefaultConversionMapsCodePage866To1251) {
    adapter_test::QuietHost host;
    char text[] = "\x80\x8F\xF0\xFC\xA0\xAF\xE0\xEF\xF1 Ab1\t";
    host.ConvertOemText(text);
    EXPECT_STREQ(text, "\xC0\xCF\xA8\xB9\xE0\xEF\xF0\xFF\xB8 Ab1\t");

    // Every high byte that has a place in 1251 lands there; the box-drawing rest becomes a
    // stand-in below the 1251 letters, never a letter or a terminator.
    iconv_t cd = iconv_open("CP1251", "CP866");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 0x80; b <= 0xFF; ++b) {
        char in[2] = {static_cast<char>(b), 0};
        char out[4] = {};
        char* ip = in;
        char* op = out;
        size_t il = 1, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool direct = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1);
        char mine[2] = {static_cast<char>(b), 0};
        adapter::Oem866ToAnsi1251(mine);
        if (direct) {
            EXPECT_EQ(static_cast<uint8_t>(mine[0]), static_cast<uint8_t>(out[0])) << std::hex << b;
        } else {
            const uint8_t m = static_cast<uint8_t>(mine[0]);
            EXPECT_TRUE(m != 0 && m < 0xA0) << std::hex << b;
        }
    }
    iconv_close(cd);
}

}  // namespace
