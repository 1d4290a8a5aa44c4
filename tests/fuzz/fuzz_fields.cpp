// The field readers and the answer handlers on any frame placed straight into FrameBuffer, with any
// FramePos and any start position, as no assembled frame could give them.
//
// Input: FramePos and a start position as little-endian 16-bit signed numbers, then the bytes of
// FrameBuffer from position 0 (the rest of the buffer is zero).
#include <cstring>

#include "tests/fuzz/FuzzSupport.h"

namespace {

using adapter::AdapterLink;

struct Side {
    fuzz::QuietHost host;
    fuzz::CountingTable table;
    fuzz::NoPort noPort;
    AdapterLink link{host, &table, noPort.driver, noPort.selection};
    uint8_t frame[adapter::FRAME_BUFFER_SIZE];
};

int16_t Le16(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
}

int Limit(int framePos) {
    if (framePos < 0) return 0;
    return framePos > adapter::FRAME_BUFFER_SIZE ? adapter::FRAME_BUFFER_SIZE : framePos;
}

// A field of plain decimal digits short enough not to saturate must read as its number.
void CheckNumberField(const AdapterLink& link, int start) {
    const int limit = Limit(link.state.FramePos);
    int pos = start;
    const int value = link.codec.ReadNumberField(pos);
    fuzz::Check(pos >= 0 && pos <= limit, "ReadNumberField left the frame");
    if (pos < limit) {
        fuzz::Check(link.state.FrameBuffer[pos] == adapter::HT || link.state.FrameBuffer[pos] == adapter::FF,
                    "ReadNumberField stopped inside a field");
    }
    if (start < -1 || start + 1 >= limit) {
        fuzz::Check(value == adapter::EMPTY_FIELD, "a field outside the frame is not empty");
        return;
    }
    const int first = start + 1;
    if (link.state.FrameBuffer[first] == adapter::HT || link.state.FrameBuffer[first] == adapter::FF) {
        fuzz::Check(value == adapter::EMPTY_FIELD && pos == first, "an empty field misread");
        return;
    }
    int digits = 0;
    int expect = 0;
    bool decimal = true;
    for (int i = first; i < pos; ++i, ++digits) {
        const uint8_t b = link.state.FrameBuffer[i];
        decimal = decimal && b >= '0' && b <= '9';
        if (decimal && digits < 9) expect = expect * 10 + (b - '0');
    }
    if (decimal && digits <= 9) fuzz::Check(value == expect, "a decimal field misread");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static Side* side = new Side;
    AdapterLink& link = side->link;
    fuzz::ResetLink(link);
    side->table.Restore();
    side->host.calls = 0;

    const int framePos = Le16(data);
    const int start = Le16(data + 2);
    size_t bytes = size - 4;
    if (bytes > sizeof link.state.FrameBuffer) bytes = sizeof link.state.FrameBuffer;
    std::memcpy(link.state.FrameBuffer, data + 4, bytes);
    link.state.FramePos = framePos;
    std::memcpy(side->frame, link.state.FrameBuffer, sizeof side->frame);

    CheckNumberField(link, start);
    const int limit = Limit(framePos);
    const int dataStart = link.codec.FindDataStart(start);
    fuzz::Check(dataStart == 0 || (dataStart >= 2 && dataStart <= limit &&
                                   link.state.FrameBuffer[dataStart - 1] == adapter::STX &&
                                   link.state.FrameBuffer[dataStart - 2] == adapter::DLE),
                "FindDataStart gave no position behind a DLE STX");

    for (int result : {link.exchange.OnParamValue(start), link.exchange.OnArrayValues(start),
                       link.exchange.OnWriteReply(start), link.codec.DispatchDleFrame()}) {
        fuzz::Check(result >= 0 && result <= 3, "a handler result outside 0 to 3");
    }
    fuzz::Check(link.state.FramePos == framePos, "a reader moved FramePos");
    fuzz::Check(std::memcmp(link.state.FrameBuffer, side->frame, sizeof side->frame) == 0,
                "a reader wrote the frame");
    fuzz::Check(side->host.calls == 0, "a handler called the window");
    if (side->table.writes != 0) fuzz::CheckTableShape(side->table);
    return 0;
}
