// krt42's tracing serial API over the scripted fake port, driven by the real driver and its
// write worker: the trace shows exactly what went over the line, and nothing reaches the file
// before the job's thread flushes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "adapter/FrameCodec.h"
#include "adapter/LineTrace.h"
#include "serial/ComDriver.h"
#include "tests/support/FakeSerialApi.h"
#include "tray/Trace.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr unsigned kPort = 3;

Bytes WireFrame(uint8_t code, const std::string& data) {
    Bytes f = {adapter::DLE, adapter::SOH, adapter::DLE, adapter::US, code, adapter::DLE, adapter::STX};
    f.insert(f.end(), data.begin(), data.end());
    f.insert(f.end(), {adapter::DLE, adapter::ETX});
    const uint16_t crc = adapter::Crc16Xmodem(f.data() + 2, static_cast<uint16_t>(f.size() - 2));
    f.insert(f.end(), {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)});
    return f;
}

class TraceTest : public ::testing::Test {
  protected:
    ~TraceTest() override { std::fclose(file); }

    // Per direction ('>', '<', '*'): the bytes of the hex lines, and the other texts, in order.
    void Read(char direction, Bytes* bytes, std::vector<std::string>* texts) {
        std::string all(static_cast<size_t>(Size()), '\0');
        std::rewind(file);
        all.resize(std::fread(&all[0], 1, all.size(), file));
        std::istringstream lines(all);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            double ms;
            std::string port, text;
            char dir;
            words >> ms >> port >> dir >> std::ws;
            std::getline(words, text);
            EXPECT_EQ(port, "COM3");
            if (dir != direction) continue;
            const bool hex = dir != adapter::TRACE_EVENT && text.rfind("frame", 0) != 0;
            if (!hex) texts->push_back(text);
            std::istringstream h(hex ? text : "");
            for (unsigned b; h >> std::hex >> b;) bytes->push_back(static_cast<uint8_t>(b));
        }
        std::fseek(file, 0, SEEK_END);
    }
    long Size() {
        std::fflush(file);
        std::fseek(file, 0, SEEK_END);
        return std::ftell(file);
    }

    std::FILE* file = std::tmpfile();
    adapter::LineTraceWriter writer{file};
    krt_test::FakeSerialApi fake;
};

TEST_F(TraceTest, TheLineIsTracedByteForByteAndOnlyAtFlush) {
    tray::TracingSerialApi api(fake, writer, "COM3", true);
    serial::ComDriver driver(serial::ComVariant::Configurator, api);
    fake.FailOpen(kPort + 1);
    serial::ComOpenBlock open;
    open.port = kPort + 1;
    open.speed = 9600;
    EXPECT_NE(driver.Command(serial::COM_OPEN, &open), serial::COM_OK);
    open.port = kPort;
    ASSERT_EQ(driver.Command(serial::COM_OPEN, &open), serial::COM_OK);

    // Short writes: the worker offers the rest again; the trace shows what the port took.
    fake.SetWriteLimit(5);
    const Bytes request = WireFrame(adapter::FN_READ_PARAM, "\t0\t003\f");
    serial::ComWriteBlock<64> block;
    block.length = static_cast<uint16_t>(request.size());
    std::memcpy(block.data, request.data(), request.size());
    ASSERT_EQ(driver.Command(serial::COM_WRITE, &block), serial::COM_OK);
    ASSERT_TRUE(krt_test::WaitUntilNotBusy(driver));
    const Bytes answer = WireFrame(adapter::FN_PARAM_VALUE, "\t0\t003\f\t12\tmA\f");
    fake.QueueRx(kPort, answer.data(), answer.size());
    uint8_t rx[serial::COM_READ_BUFFER];
    EXPECT_EQ(driver.Command(serial::COM_READ, rx), static_cast<int>(answer.size()));
    fake.FailWrites(true);
    block.length = 1;
    ASSERT_EQ(driver.Command(serial::COM_WRITE, &block), serial::COM_OK);
    ASSERT_TRUE(krt_test::WaitUntilNotBusy(driver));

    EXPECT_EQ(Size(), 0);
    api.Flush();
    Bytes sent, received, none;
    std::vector<std::string> sentFrames, receivedFrames, events;
    Read(adapter::TRACE_SENT, &sent, &sentFrames);
    Read(adapter::TRACE_RECEIVED, &received, &receivedFrames);
    Read(adapter::TRACE_EVENT, &none, &events);
    EXPECT_EQ(sent, fake.Written(kPort));
    EXPECT_EQ(sent, request);
    EXPECT_EQ(received, answer);
    EXPECT_EQ(sentFrames,
              std::vector<std::string>{"frame fn=1D FN_READ_PARAM fields \"0\" \"003\" | crc C515 ok"});
    ASSERT_EQ(receivedFrames.size(), 1u);
    EXPECT_EQ(receivedFrames[0].substr(0, receivedFrames[0].find(" crc")),
              "frame fn=03 FN_PARAM_VALUE fields \"0\" \"003\" | \"12\" \"mA\" |");
    // The worker's retries of the refused write are each an event of their own.
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 3),
              (std::vector<std::string>{"open failed", "open", "speed 9600 8N1"}));
    EXPECT_EQ(std::vector<std::string>(events.begin() + 3, events.end()),
              std::vector<std::string>(events.size() - 3, "write failed"));

    // The close reaches the file with the next flush, not before.
    const long flushed = Size();
    driver.Command(serial::COM_CLOSE, nullptr);
    EXPECT_EQ(Size(), flushed);
    api.Flush();
    events.clear();
    Read(adapter::TRACE_EVENT, &none, &events);
    EXPECT_EQ(events.back(), "close");
}

TEST_F(TraceTest, BytesBeyondTheRoomBetweenFlushesAreCountedNotKept) {
    tray::TracingSerialApi api(fake, writer, "COM3", false);
    const serial::PortHandle port = api.Open(kPort);
    static uint8_t buffer[1 << 20];
    for (int i = 0; i < 5; ++i) {
        fake.QueueRx(kPort, buffer, sizeof buffer);
        uint32_t got = 0;
        ASSERT_TRUE(api.Read(port, buffer, sizeof buffer, &got));
    }
    api.Flush();
    Bytes received, none;
    std::vector<std::string> texts, events;
    Read(adapter::TRACE_RECEIVED, &received, &texts);
    Read(adapter::TRACE_EVENT, &none, &events);
    EXPECT_EQ(received.size(), tray::TracingSerialApi::MAX_PENDING_BYTES);
    EXPECT_EQ(events.back(), "trace overflow: 1048576 bytes of the line not shown");
}

// A reader that stops reading holds up the queued writer's own thread only: what finds the queue
// full is dropped at once and counted, and the trace says so once there is room again.
TEST(QueuedTrace, LinesThatFindTheQueueFullAreDroppedCountedAndTold) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);  // the smallest pipe: full almost at once
    std::FILE* out = fdopen(pipeEnds[1], "wb");
    tray::QueuedTraceWriter writer(out, 16384);
    ASSERT_TRUE(writer.Start());
    krt_test::FakeSerialApi fake;
    tray::TracingSerialApi api(fake, writer, "COM3", false);
    const serial::PortHandle port = api.Open(kPort);
    uint8_t bytes[600] = {};
    auto traceSomeBytes = [&] {
        fake.QueueRx(kPort, bytes, sizeof bytes);
        uint32_t got = 0;
        api.Read(port, bytes, sizeof bytes, &got);
        api.Flush();
    };
    for (int i = 0; i < 200 && api.DroppedLines() == 0; ++i) traceSomeBytes();
    ASSERT_EQ(api.DroppedLines(), 1u);  // one line of hex was refused, and nothing waited for room
    traceSomeBytes();
    ASSERT_EQ(api.DroppedLines(), 2u);

    std::string all;
    std::thread reader([&] {
        char chunk[4096];
        for (ssize_t n; (n = read(pipeEnds[0], chunk, sizeof chunk)) > 0;)
            all.append(chunk, static_cast<size_t>(n));
    });
    // The writer's thread drains the queue into the reader; then there is room for the next lines.
    for (int i = 0; i < 1000; ++i) {
        const size_t before = api.DroppedLines();
        traceSomeBytes();
        if (api.DroppedLines() == before) break;
    }
    EXPECT_TRUE(writer.Close());
    std::fclose(out);
    reader.join();
    close(pipeEnds[0]);
    const size_t note = all.find("COM3 * trace overflow: ");
    ASSERT_NE(note, std::string::npos);
    EXPECT_EQ(all.substr(note + 23, all.find('\n', note) - note - 23),
              std::to_string(api.DroppedLines()) + " lines dropped while the trace's reader was slow");
    EXPECT_EQ(all.find("trace overflow", note + 23), std::string::npos);
}

}  // namespace
