// The DLE frame codec of the adapter link: checksum, the send path with its due frames, the
// byte-by-byte assembler over RxChunk, dispatch by function code and the field readers.
#pragma once

#include <cstdint>

#include "adapter/LinkState.h"
#include "serial/ComDriver.h"

namespace adapter {

// FN_READ_PARAM for parameter 003 of channel 0, up to its ETX, zero-terminated.
extern const uint8_t PROBE_FRAME[17];

uint16_t Crc16Xmodem(const uint8_t* data, uint16_t count);
int DigitValue(uint8_t c);

// The three answer handlers that DispatchDleFrame calls, each with the position just behind
// the function code. They return 0 decoded, 1 parameter or row not in the table, 2 no DLE STX,
// 3 channel not 0; nobody looks at the result.
class FrameHandlers {
  public:
    virtual ~FrameHandlers() = default;
    virtual int OnParamValue(int pos) = 0;
    virtual int OnArrayValues(int pos) = 0;
    virtual int OnWriteReply(int pos) = 0;
};

class FrameCodec {
  public:
    FrameCodec(LinkState& state, serial::ComDriver& com) : s_(state), com_(com) {}

    void SetHandlers(FrameHandlers* handlers) { handlers_ = handlers; }

    // Adds the checksum to the zero-terminated frame and hands it to COM_WRITE; 1 when the frame
    // could not be queued behind a write that is still going out.
    int SendDleFrame(const uint8_t* frame);
    // Runs the assembler over RxChunk; 0 when a good frame was dispatched.
    int ReceiveDleBytes();
    int DispatchDleFrame();
    int FindDataStart(int pos) const;
    int ReadNumberField(int& pos) const;
    // A frame that fell due while the previous write was still going out is kept here and
    // sent by the first tick that finds the channel free.
    bool FrameDue() const { return dueCount_ != 0; }
    void FlushDueFrames();

  private:
    void PutFrameInBlock(const uint8_t* frame, int n);
    bool ChannelBusy();

    LinkState& s_;
    serial::ComDriver& com_;
    FrameHandlers* handlers_ = nullptr;

    static constexpr int kDueSlots = 4;
    struct DueFrame {
        int length;
        uint8_t bytes[SEND_FRAME_MAX];
    };
    DueFrame due_[kDueSlots];
    int dueFirst_ = 0;
    int dueCount_ = 0;
};

}  // namespace adapter
