// The DLE frame codec of the adapter link: checksum, send path with its due frames, the
// byte-by-byte assembler over RxChunk, dispatch by function code and the field readers.
#include "adapter/AdapterLink.h"

#include <cstring>

#include "framework/WorkerThread.h"

namespace adapter {

const uint8_t PROBE_FRAME[17] = {DLE, SOH, DLE, US, FN_READ_PARAM, DLE, STX, HT, '0', HT,
                                 '0', '0', '3', FF, DLE,           ETX, 0};

namespace {

constexpr char kEmptyReadLine[] = "Read 0 bytes and didn't overlap.\n\r";

bool ChannelBusy() {
    // With no driver installed ComDriverCall leaves the result alone: count that as free.
    int busy = 0;
    ComDriverCall(COM_BUSY, &busy, nullptr);
    return busy == 1;
}

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

AdapterLink::AdapterLink(LinkHost& host, ParamTable* table) : host_(host), table_(table), handlers_(this) {}

void AdapterLink::PutFrameInBlock(const uint8_t* frame, int n) {
    // A frame shorter than its DLE SOH has no body; a negative count taken as 16 bits would
    // run the checksum over 64 kB past the frame.
    const int body = n > 2 ? n - 2 : 0;
    const uint16_t crc = Crc16Xmodem(frame + (n > 2 ? 2 : n), static_cast<uint16_t>(body));
    std::memcpy(SendBlock.data, frame, static_cast<size_t>(n));
    SendBlock.data[n] = static_cast<uint8_t>(crc >> 8);
    SendBlock.data[n + 1] = static_cast<uint8_t>(crc & 0xFF);
    SendBlock.length = static_cast<uint16_t>(n + 2);
}

int AdapterLink::SendDleFrame(const uint8_t* frame) {
    if (frame == nullptr) return 1;
    int n = 0;
    while (n < SEND_FRAME_MAX && frame[n] != 0) ++n;

    // SendBlock belongs to the write worker until COM_BUSY answers 0, so a frame that falls
    // due while a write is still going out waits in the due slots. Frames already waiting go
    // first, so requests reach the adapter in the order they were made.
    FlushDueFrames();
    if (dueCount_ == 0 && !ChannelBusy()) {
        PutFrameInBlock(frame, n);
        int result = 0;
        ComDriverCall(COM_WRITE, &result, &SendBlock);
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

void AdapterLink::FlushDueFrames() {
    while (dueCount_ != 0 && !ChannelBusy()) {
        const DueFrame& slot = due_[dueFirst_];
        PutFrameInBlock(slot.bytes, slot.length);
        dueFirst_ = (dueFirst_ + 1) % kDueSlots;
        --dueCount_;
        int result = 0;
        ComDriverCall(COM_WRITE, &result, &SendBlock);
    }
}

int AdapterLink::ReceiveDleBytes() {
    int count = RxCount;
    if (count > RX_TAKE_MAX) count = RX_TAKE_MAX;
    if (count < 0) count = 0;
    if (count == 0) {
        fw::DebugOutput(kEmptyReadLine);
        return 1;
    }
    // A position set from outside the assembler must not lead the stores out of the buffer.
    if (FramePos < 0 || FramePos > FRAME_WRAP_AT) FramePos = 0;

    auto take = [this](uint8_t b) {
        FrameBuffer[FramePos] = b;
        FramePos = FramePos >= FRAME_WRAP_AT ? 0 : FramePos + 1;
    };

    for (int i = 0; i < count; ++i) {
        const uint8_t b = RxChunk[i];
        if (TailStage == 0) {
            if (b == DLE) {
                DlePending = 1;
                take(b);
                continue;
            }
            if (b == SOH) {
                FramePos = 0;
                TailStage = 0;
                continue;
            }
            if (b == US || b == STX) {
                DlePending = 0;
                take(b);
                continue;
            }
            if (b == ETX) {
                if (DlePending) {
                    DlePending = 0;
                    TailStage = 1;
                }
                take(b);
                continue;
            }
        }
        DlePending = 0;
        take(b);
        if (TailStage == 2) {
            TailStage = 0;
            if (Crc16Xmodem(FrameBuffer, static_cast<uint16_t>(FramePos)) == 0) {
                DispatchDleFrame();
                return 0;
            }
        } else if (TailStage == 1) {
            TailStage = 2;
        }
    }
    return 1;
}

namespace {

// The readers never look at or past the end of the frame, even when FramePos was set from
// outside the assembler.
int FrameLimit(int framePos) {
    if (framePos < 0) return 0;
    return framePos > FRAME_BUFFER_SIZE ? FRAME_BUFFER_SIZE : framePos;
}

}  // namespace

int AdapterLink::DispatchDleFrame() {
    const int limit = FrameLimit(FramePos);
    bool dleSeen = false;
    bool headFound = false;
    for (int i = 0; i < limit; ++i) {
        const uint8_t b = FrameBuffer[i];
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

int AdapterLink::FindDataStart(int pos) const {
    const int limit = FrameLimit(FramePos);
    bool dleSeen = false;
    for (int i = pos < 0 ? 0 : pos; i < limit; ++i) {
        const uint8_t b = FrameBuffer[i];
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

int AdapterLink::ReadNumberField(int& pos) const {
    const int limit = FrameLimit(FramePos);
    if (pos < -1 || pos + 1 >= limit) {
        // Nothing of the field lies inside the frame: it reads as empty.
        pos = limit;
        return EMPTY_FIELD;
    }
    ++pos;
    if (FrameBuffer[pos] == HT || FrameBuffer[pos] == FF) return EMPTY_FIELD;
    // A long run of digits saturates instead of overflowing.
    constexpr int64_t kMax = INT32_MAX, kMin = INT32_MIN;
    int64_t value = 0;
    while (pos < limit && FrameBuffer[pos] != HT && FrameBuffer[pos] != FF) {
        value = value * 10 + DigitValue(FrameBuffer[pos]);
        if (value > kMax) value = kMax;
        if (value < kMin) value = kMin;
        ++pos;
    }
    return static_cast<int>(value);
}

}  // namespace adapter
