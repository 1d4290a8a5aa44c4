// The termios backend under the driver, against a pseudo-terminal: the test holds the master
// side as the far end of the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComDriver.h"
#include "serial/SerialApi_posix.h"
#include "serial/VaRevir.h"
#include "tests/support/FakeSerialApi.h"

using krt_test::WaitFor;
using krt_test::WaitUntilNotBusy;
using serial::PosixSerialApi;
using namespace serial;
using Clock = std::chrono::steady_clock;

namespace {

class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name == nullptr) return;
        slavePath_ = name;
        // Kept open for the whole test: the master then never sees a hang-up between the
        // driver's opens, and tcgetattr shows what the driver set.
        slave_ = open(name, O_RDWR | O_NOCTTY);
        int flags = fcntl(master_, F_GETFL);
        fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    }
    ~Pty() {
        if (slave_ >= 0) close(slave_);
        CloseMaster();
    }
    bool Ok() const { return master_ >= 0 && slave_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }
    int Slave() const { return slave_; }
    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

    // Everything the far end has received so far, waiting until `want` bytes are there.
    std::vector<uint8_t> Receive(std::size_t want,
                                 std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::vector<uint8_t> got;
        WaitFor(
            [&] {
                uint8_t buf[4096];
                for (;;) {
                    const ssize_t n = read(master_, buf, sizeof buf);
                    if (n <= 0) break;
                    got.insert(got.end(), buf, buf + n);
                }
                return got.size() >= want;
            },
            limit);
        return got;
    }
    void Send(const std::vector<uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{master_, POLLOUT, 0};
                poll(&p, 1, 1000);
            }
        }
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

std::vector<uint8_t> Pattern(std::size_t n) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 13 + i / 256);
    return v;
}

int Open(ComDriver& d, uint16_t port, uint32_t speed, uint16_t format) {
    ComOpenBlock b;
    b.port = port;
    b.speed = speed;
    b.format = format;
    int result = -1;
    d.ComDriverCall(COM_OPEN, &result, &b);
    return result;
}

int Command(ComDriver& d, uint32_t command, void* block = nullptr) {
    int result = -1;
    d.ComDriverCall(command, &result, block);
    return result;
}

class PosixSerialApiTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty.Ok()); }
    Pty pty;
    PosixSerialApi api{
        [this](unsigned n) { return n == 1 ? pty.SlavePath() : std::string("/nonexistent/tty"); }};
};

TEST_F(PosixSerialApiTest, OpenSetsTheSpeedThatTheOtherSideSeesAndARawLine) {
    // The pty keeps only the speed and the local flags; the format is checked on termios below.
    for (const uint32_t speed : {19200u, 300u, 115200u}) {
        ComDriver d(ComVariant::Loader, api);
        termios tio;
        ASSERT_EQ(0, tcgetattr(pty.Slave(), &tio));
        tio.c_iflag |= IXON | ICRNL;
        tio.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(0, tcsetattr(pty.Slave(), TCSANOW, &tio));
        ASSERT_EQ(0, Open(d, 1, speed, 8));
        ASSERT_EQ(0, tcgetattr(pty.Slave(), &tio));
        unsigned constant = 0;
        ASSERT_TRUE(PosixSerialApi::SpeedConstant(speed, &constant));
        EXPECT_EQ(static_cast<speed_t>(constant), cfgetospeed(&tio)) << speed;
        EXPECT_EQ(0u, tio.c_lflag & (ICANON | ECHO | ISIG));
        EXPECT_EQ(0u, tio.c_iflag & (IXON | ICRNL));
        EXPECT_EQ(0, Command(d, COM_CLOSE));
    }
}

TEST_F(PosixSerialApiTest, RefusedSpeedKeepsTheEarlierOne) {
    termios tio;
    ASSERT_EQ(0, tcgetattr(pty.Slave(), &tio));
    cfsetospeed(&tio, B4800);
    cfsetispeed(&tio, B4800);
    ASSERT_EQ(0, tcsetattr(pty.Slave(), TCSANOW, &tio));
    ComDriver d(ComVariant::Configurator, api);
    ASSERT_EQ(0, Open(d, 1, 12345, 0));
    ASSERT_EQ(0, tcgetattr(pty.Slave(), &tio));
    EXPECT_EQ(static_cast<speed_t>(B4800), cfgetospeed(&tio));
}

TEST(PosixLineSettingsTest, FormatsBecomeTheTermiosSizeParityAndStopBits) {
    struct Case {
        uint8_t byteSize;
        serial::Parity parity;
        tcflag_t size;
        tcflag_t parityBits;
    };
    for (const Case c :
         {Case{8, serial::Parity::None, CS8, 0}, Case{8, serial::Parity::Even, CS8, PARENB},
          Case{7, serial::Parity::Even, CS7, PARENB}, Case{7, serial::Parity::Odd, CS7, PARENB | PARODD}}) {
        termios tio;
        std::memset(&tio, 0, sizeof tio);
        tio.c_cflag = CS5 | PARENB | PARODD | CSTOPB | CRTSCTS;
        tio.c_iflag = INPCK | IXON;
        tio.c_cc[VSTART] = 0x11;
        serial::LineSettings s;
        s.baudRate = 2400;
        s.byteSize = c.byteSize;
        s.parity = c.parity;
        PosixSerialApi::ApplyLineSettings(tio, s);
        EXPECT_EQ(c.size, tio.c_cflag & CSIZE);
        EXPECT_EQ(c.parityBits, tio.c_cflag & (PARENB | PARODD));
        EXPECT_EQ(0u, tio.c_cflag & (CSTOPB | CRTSCTS));
        EXPECT_EQ(0u, tio.c_iflag & (INPCK | IXON));
        EXPECT_EQ(static_cast<speed_t>(B2400), cfgetospeed(&tio));
        EXPECT_EQ(0x11, tio.c_cc[VSTART]);
        EXPECT_EQ(0, tio.c_cc[VMIN]);
        EXPECT_EQ(0, tio.c_cc[VTIME]);
    }
}

TEST_F(PosixSerialApiTest, MissingOrHeldPortGivesThree) {
    ComDriver first(ComVariant::Loader, api);
    EXPECT_EQ(3, Open(first, 2, 9600, 8));
    ASSERT_EQ(0, Open(first, 1, 9600, 8));
    PosixSerialApi otherApi([this](unsigned) { return pty.SlavePath(); });
    ComDriver second(ComVariant::Loader, otherApi);
    EXPECT_EQ(3, Open(second, 1, 9600, 8));
    EXPECT_EQ(0, Command(first, COM_CLOSE));
    EXPECT_EQ(0, Open(second, 1, 9600, 8));
}

TEST_F(PosixSerialApiTest, WriteThroughTheWorkerArrivesWhole) {
    ComDriver d(ComVariant::Loader, api);
    ASSERT_EQ(0, Open(d, 1, 115200, 8));
    const std::vector<uint8_t> bytes = Pattern(9000);
    static ComWriteBlock<9000> block;
    block.length = static_cast<uint16_t>(bytes.size());
    std::memcpy(block.data, bytes.data(), bytes.size());
    ASSERT_EQ(0, Command(d, COM_WRITE, &block));
    const std::vector<uint8_t> got = pty.Receive(bytes.size());
    EXPECT_EQ(bytes, got);
    EXPECT_TRUE(WaitUntilNotBusy(d));
}

TEST_F(PosixSerialApiTest, ReadReturnsAtOnceWithWhatArrivedAndAtMost6144Bytes) {
    ComDriver d(ComVariant::Configurator, api);
    ASSERT_EQ(0, Open(d, 1, 9600, 0));
    std::vector<uint8_t> buffer(COM_READ_BUFFER, 0xAA);
    auto t0 = Clock::now();
    EXPECT_EQ(0, Command(d, COM_READ, buffer.data()));
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_EQ(0, buffer[0]);

    const std::vector<uint8_t> incoming = Pattern(7000);
    pty.Send(incoming);
    std::vector<uint8_t> got;
    ASSERT_TRUE(WaitFor([&] {
        const int n = Command(d, COM_READ, buffer.data());
        EXPECT_GE(n, 0);
        EXPECT_LE(n, 6144);
        if (n < 0 || n > 6144) return true;
        EXPECT_EQ(0, buffer[static_cast<std::size_t>(n)]);
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        return got.size() >= incoming.size();
    }));
    EXPECT_EQ(incoming, got);
}

TEST_F(PosixSerialApiTest, CloseDuringAWriteThatThePeerNeverReadsReturnsAfterAboutFiveSeconds) {
    ComDriver d(ComVariant::Loader, api);
    ASSERT_EQ(0, Open(d, 1, 300, 8));
    static ComWriteBlock<60000> block;
    block.length = 60000;
    std::memset(block.data, 'U', sizeof block.data);
    ASSERT_EQ(0, Command(d, COM_WRITE, &block));
    // Well past what the pty takes unread: the worker is stuck in its write.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(1, Command(d, COM_BUSY));
    const auto t0 = Clock::now();
    EXPECT_EQ(0, Command(d, COM_CLOSE));
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_GE(took, 4.9);
    EXPECT_LT(took, 8.0);
    EXPECT_EQ(0, Command(d, COM_BUSY));
    EXPECT_EQ(0, Open(d, 1, 300, 8));
}

TEST_F(PosixSerialApiTest, UnpluggedLineMakesTheWorkerGiveUpAndReadsGiveNothing) {
    ComDriver d(ComVariant::Loader, api);
    ASSERT_EQ(0, Open(d, 1, 9600, 8));
    pty.CloseMaster();
    ComWriteBlock<16> block;
    block.length = 16;
    ASSERT_EQ(0, Command(d, COM_WRITE, &block));
    EXPECT_TRUE(WaitUntilNotBusy(d, std::chrono::seconds(5)));
    EXPECT_TRUE(d.LineFailed());
    uint8_t buffer[COM_READ_BUFFER];
    EXPECT_EQ(0, Command(d, COM_READ, buffer));
    uint32_t status = 0xFFFF;
    EXPECT_EQ(0, Command(d, COM_MODEMSTATUS, &status));
    EXPECT_EQ(0, Command(d, COM_CLOSE));
    EXPECT_FALSE(d.LineFailed());
}

TEST_F(PosixSerialApiTest, OutputFlowControlHoldsWritesFromXoffToXonAndTakesBothBytes) {
    for (const bool on : {false, true}) {
        PosixSerialApi flowApi([this](unsigned) { return pty.SlavePath(); });
        flowApi.SetOutputFlowControl(on);
        ComDriver d(ComVariant::Loader, flowApi);
        ASSERT_EQ(0, Open(d, 1, 9600, 8));
        termios tio;
        ASSERT_EQ(0, tcgetattr(pty.Slave(), &tio));
        EXPECT_EQ(on ? static_cast<tcflag_t>(IXON) : 0u, tio.c_iflag & (IXON | IXOFF | IXANY)) << on;

        const std::vector<uint8_t> xoff{0x13}, xon{0x11};
        pty.Send(xoff);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ComWriteBlock<8> block;
        block.length = 8;
        std::memset(block.data, '+', sizeof block.data);
        ASSERT_EQ(0, Command(d, COM_WRITE, &block));
        uint8_t buffer[COM_READ_BUFFER];
        if (on) {
            // Held: nothing arrives and the write is still going out ...
            EXPECT_TRUE(pty.Receive(1, std::chrono::milliseconds(300)).empty());
            EXPECT_EQ(1, Command(d, COM_BUSY));
            // ... other bytes still pass the other way, anything but XON lets nothing go ...
            pty.Send({'R', 'x'});
            ASSERT_TRUE(WaitFor([&] { return Command(d, COM_READ, buffer) == 2; }));
            EXPECT_EQ(0, std::memcmp(buffer, "Rx", 2));
            EXPECT_TRUE(pty.Receive(1, std::chrono::milliseconds(100)).empty());
            // ... until XON, which lets the write finish whole.
            pty.Send(xon);
            EXPECT_EQ(std::vector<uint8_t>(8, '+'), pty.Receive(8));
            EXPECT_TRUE(WaitUntilNotBusy(d));
            // Neither control byte reached the program as data.
            EXPECT_EQ(0, Command(d, COM_READ, buffer));
        } else {
            // Without flow control XOFF is a byte like any other and the write goes straight out.
            EXPECT_EQ(std::vector<uint8_t>(8, '+'), pty.Receive(8));
            EXPECT_TRUE(WaitUntilNotBusy(d));
            ASSERT_TRUE(WaitFor([&] { return Command(d, COM_READ, buffer) == 1; }));
            EXPECT_EQ(0x13, buffer[0]);
        }
        EXPECT_FALSE(d.LineFailed());
        EXPECT_EQ(0, Command(d, COM_CLOSE));
    }
}

TEST(PosixSerialApiPathTest, PortNumbersMapToTheEnvironmentOrTheSerialDevices) {
    unsetenv("KRT_COM3");
    EXPECT_EQ("/dev/ttyS2", PosixSerialApi::DefaultPathOf(3));
    setenv("KRT_COM3", "/tmp/my-line", 1);
    EXPECT_EQ("/tmp/my-line", PosixSerialApi::DefaultPathOf(3));
    unsetenv("KRT_COM3");
    EXPECT_EQ("", PosixSerialApi::DefaultPathOf(0));
    unsigned constant = 0;
    EXPECT_TRUE(PosixSerialApi::SpeedConstant(57600, &constant));
    EXPECT_EQ(static_cast<unsigned>(B57600), constant);
    EXPECT_EQ(57600u, PosixSerialApi::BaudRateOf(constant));
    EXPECT_FALSE(PosixSerialApi::SpeedConstant(12345, &constant));
}

}  // namespace
