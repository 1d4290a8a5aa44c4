#include "adapter/FrameCodec.h"

#include <cstring>

#include "framework/DebugOutput.h"

namespace adapter {

const uint8_t PROBE_FRAME[17] = {DLE, SOH, DLE, US, FN_READ_PARAM, DLE, STX, HT, '0', HT,
                                 '0', '0', '3', FF, DLE,           ETX, 0};

namespace {

constexpr char kEmptyReadLine[] = "Read 0 bytes and didn't overlap.\n\r";

}  // namespace

uint16_t Crc16Xmodem(const uint8_t* data, uint16_t count) {
    uint16_t crc = 0;
    for (uint16_t i = 0; i < count; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc =
                (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

int DigitValue(uint8_t c) {
    int value = c - 0x30;
    if (value > 9) value -= 7;
    return value;
}

bool FrameCodec::ChannelBusy() {
    int busy = 0;
    com_.ComDriverCall(serial::COM_BUSY, &busy, nullptr);
    return busy == 1;
}

void FrameCodec::PutFrameInBlock(const uint8_t* frame, int n) {
    // A frame shorter than its DLE SOH has no body; a negative count taken as 16 bits would
    // run the checksum over 64 kB past the frame.
    const int body = n > 2 ? n - 2 : 0;
    const uint16_t crc = Crc16Xmodem(frame + (n > 2 ? 2 : n), static_cast<uint16_t>(body));
    std::memcpy(s_.SendBlock.data, frame, static_cast<size_t>(n));
    s_.SendBlock.data[n] = static_cast<uint8_t>(crc >> 8);
    s_.SendBlock.data[n + 1] = static_cast<uint8_t>(crc & 0xFF);
    s_.SendBlock.length = static_cast<uint16_t>(n + 2);
}

int FrameCodec::SendDleFrame(const uint8_t* frame) {
    if (frame == nullptr) return 1;
    int n = 0;
    while (n < SEND_FRAME_MAX && frame[n] != 0) ++n;

    // s_.SendBlock belongs to the write worker until COM_BUSY answers 0, so a frame that falls
    // due while a write is still going out waits in the due slots. Frames already waiting go
    // first, so requests reach the adapter in the order they were made.
    FlushDueFrames();
    if (dueCount_ == 0 && !ChannelBusy()) {
        PutFrameInBlock(frame, n);
        com_.Command(serial::COM_WRITE, &s_.SendBlock);
        return 0;
    }
    // All slots full: the newest frame is refused and the caller told, rather than dropping
    // an older one that its sender already counts as sent (a write the user made, say).
    if (dueCount_ == kDueSlots) return 1;
    DueFrame& slot = due_[(dueFirst_ + dueCount_) % kDueSlots];
    std::memcpy(slot.bytes, frame, static_cast<size_t>(n));
    slot.length = n;
    ++dueCount_;
    return 0;
}

void FrameCodec::FlushDueFrames() {
    while (dueCount_ != 0 && !ChannelBusy()) {
        const DueFrame& slot = due_[dueFirst_];
        PutFrameInBlock(slot.bytes, slot.length);
        dueFirst_ = (dueFirst_ + 1) % kDueSlots;
        --dueCount_;
        com_.Command(serial::COM_WRITE, &s_.SendBlock);
    }
}

int FrameCodec::ReceiveDleBytes() {
    int count = s_.RxCount;
    if (count > RX_TAKE_MAX) count = RX_TAKE_MAX;
    if (count < 0) count = 0;
    if (count == 0) {
        fw::DebugOutput(kEmptyReadLine);
        return 1;
    }
    // A position set from outside the assembler must not lead the stores out of the buffer.
    if (s_.FramePos < 0 || s_.FramePos > FRAME_WRAP_AT) s_.FramePos = 0;

    auto take = [this](uint8_t b) {
        s_.FrameBuffer[s_.FramePos] = b;
        s_.FramePos = s_.FramePos >= FRAME_WRAP_AT ? 0 : s_.FramePos + 1;
    };

    for (int i = 0; i < count; ++i) {
        const uint8_t b = s_.RxChunk[i];
        if (s_.TailStage == 0) {
            if (b == DLE) {
                s_.DlePending = 1;
                take(b);
                continue;
            }
            if (b == SOH) {
                s_.FramePos = 0;
                s_.TailStage = 0;
                continue;
            }
            if (b == US || b == STX) {
                s_.DlePending = 0;
                take(b);
                continue;
            }
            if (b == ETX) {
                if (s_.DlePending) {
                    s_.DlePending = 0;
                    s_.TailStage = 1;
                }
                take(b);
                continue;
            }
        }
        s_.DlePending = 0;
        take(b);
        if (s_.TailStage == 2) {
            s_.TailStage = 0;
            if (Crc16Xmodem(s_.FrameBuffer, static_cast<uint16_t>(s_.FramePos)) == 0) {
                DispatchDleFrame();
                return 0;
            }
        } else if (s_.TailStage == 1) {
            s_.TailStage = 2;
        }
    }
    return 1;
}

namespace {

// The readers never look at or past the end of the frame, even when s_.FramePos was set from
// outside the assembler.
int FrameLimit(int framePos) {
    if (framePos < 0) return 0;
    return framePos > FRAME_BUFFER_SIZE ? FRAME_BUFFER_SIZE : framePos;
}

}  // namespace

int FrameCodec::DispatchDleFrame() {
    if (handlers_ == nullptr) return 1;
    const int limit = FrameLimit(s_.FramePos);
    bool dleSeen = false;
    bool headFound = false;
    for (int i = 0; i < limit; ++i) {
        const uint8_t b = s_.FrameBuffer[i];
        if (b == DLE) {
            dleSeen = true;
        } else if (b == US) {
            if (dleSeen) {
                headFound = true;
                dleSeen = false;
            }
        } else if (headFound) {
            if (b == FN_PARAM_VALUE) return handlers_->OnParamValue(i + 1);
            if (b == FN_ARRAY_VALUES) return handlers_->OnArrayValues(i + 1);
            if (b == FN_WRITE_REPLY) return handlers_->OnWriteReply(i + 1);
        }
    }
    return 1;
}

int FrameCodec::FindDataStart(int pos) const {
    const int limit = FrameLimit(s_.FramePos);
    bool dleSeen = false;
    for (int i = pos < 0 ? 0 : pos; i < limit; ++i) {
        const uint8_t b = s_.FrameBuffer[i];
        if (b == DLE) {
            dleSeen = true;
        } else if (b == STX && dleSeen) {
            return i + 1;
        } else {
            dleSeen = false;
        }
    }
    return 0;
}

int FrameCodec::ReadNumberField(int& pos) const {
    const int limit = FrameLimit(s_.FramePos);
    if (pos < -1 || pos + 1 >= limit) {
        // Nothing of the field lies inside the frame: it reads as empty.
        pos = limit;
        return EMPTY_FIELD;
    }
    ++pos;
    if (s_.FrameBuffer[pos] == HT || s_.FrameBuffer[pos] == FF) return EMPTY_FIELD;
    // A long run of digits saturates instead of overflowing.
    constexpr int64_t kMax = INT32_MAX, kMin = INT32_MIN;
    int64_t value = 0;
    while (pos < limit && s_.FrameBuffer[pos] != HT && s_.FrameBuffer[pos] != FF) {
        value = value * 10 + DigitValue(s_.FrameBuffer[pos]);
        if (value > kMax) value = kMax;
        if (value < kMin) value = kMin;
        ++pos;
    }
    return static_cast<int>(value);
}

}  // namespace adapter
