// The configurator's side of the adapter link: the DLE frame codec, the speed search with its
// link timer and link messages, and the parameter read and write exchanges. This is the
// portable part of the main window: the members below are the main window's link state, and
// the window forwards its timer ticks, link messages and commands here.
#pragma once

#include <cstdint>

#include "adapter/LinkHost.h"
#include "adapter/ParamTable.h"
#include "serial/ComDriver.h"

namespace adapter {

// Control bytes of the frames.
constexpr uint8_t DLE = 0x10, SOH = 0x01, US = 0x1F, STX = 0x02, ETX = 0x03, HT = 0x09, FF = 0x0C;

// Function codes.
constexpr uint8_t FN_READ_PARAM = 0x1D;
constexpr uint8_t FN_READ_ARRAY = 0x0C;
constexpr uint8_t FN_PARAM_VALUE = 0x03;
constexpr uint8_t FN_ARRAY_VALUES = 0x14;
constexpr uint8_t FN_WRITE_REPLY = 0x7F;

// FN_READ_PARAM for parameter 003 of channel 0, up to its ETX, zero-terminated.
extern const uint8_t PROBE_FRAME[17];

constexpr int FRAME_BUFFER_SIZE = 7168;
constexpr int FRAME_WRAP_AT = 7166;  // FramePos goes back to 0 after this position
constexpr int RX_CHUNK_SIZE = 13312;
constexpr int RX_TAKE_MAX = 6140;  // bytes of one chunk the assembler looks at
constexpr int SEND_BLOCK_ROOM = 7166;
constexpr int SEND_FRAME_MAX = 6000;  // bytes of a frame before its checksum
constexpr int EMPTY_FIELD = 12345;    // ReadNumberField's answer for an empty field

// Link states: what happens when the countdown runs out.
enum LinkState : int8_t {
    Idle = 0,
    Search1200 = 1,
    Search2400 = 2,
    Search4800 = 3,
    Search9600 = 4,
    Search19200 = 5,
    Search38400 = 6,
    Search57600 = 7,
    Search115200 = 8,
    AwaitAnswer = 15,
    DoneNotice = 16,
};

// Link messages posted to the main window (WM_USER = 0x400).
enum : uint32_t {
    CM_SEARCH_2400 = 1124,
    CM_SEARCH_4800 = 1125,
    CM_SEARCH_9600 = 1126,
    CM_SEARCH_19200 = 1127,
    CM_SEARCH_38400 = 1128,
    CM_SEARCH_57600 = 1129,
    CM_SEARCH_115200 = 1130,
    CM_SEARCH_FAILED = 1139,
    CM_RECEIVED = 1141,
    CM_NO_ANSWER = 1142,
};

constexpr unsigned LINK_TIMER_ID = 6;
constexpr int IDC_READ_BUTTON = 1009;
constexpr int IDC_PORT_BUTTON = 1005;
constexpr int PORT_TABLE_SIZE = 64;

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

class AdapterLink : public FrameHandlers {
  public:
    AdapterLink(LinkHost& host, ParamTable* table);

    // Frames.
    int SendDleFrame(const uint8_t* frame);
    int ReceiveDleBytes();
    int DispatchDleFrame();
    int FindDataStart(int pos) const;
    int ReadNumberField(int& pos) const;
    // A frame that fell due while the previous write was still going out is kept here and
    // sent by the first tick that finds the channel free.
    bool FrameDue() const { return dueCount_ != 0; }
    void FlushDueFrames();

    // Search and connection.
    // Returns COM_OPEN's result.
    int OpenPortAt(int speed);
    void StartAdapterSearch();
    void OnLinkTimer();
    // The link part of the main window's pre-translation: true for each link message.
    bool HandleLinkMessage(uint32_t message);

    // Parameter read and write.
    void StartParameterRead();
    void RequestParameter(int step);
    int OnParamValue(int pos) override;
    int OnArrayValues(int pos) override;
    int OnWriteReply(int pos) override;
    // Builds and sends the write request of a row. False when the value cannot go out whole
    // (the row is then marked Error and nothing is sent).
    bool WriteParameter(int row);

    LinkHost& Host() { return host_; }
    ParamTable* Table() { return table_; }
    void SetTable(ParamTable* table) { table_ = table; }
    void SetHandlers(FrameHandlers* handlers) { handlers_ = handlers; }

    // The main window's link state, in its order in the window.
    int32_t ParamIndex = -1;
    int32_t PortTable[PORT_TABLE_SIZE] = {};
    ComOpenBlock OpenParams;
    int32_t LineSpeed = 4800;
    int32_t TailStage = 0;
    int32_t FramePos = 0;
    int32_t DlePending = 0;
    uint8_t FrameBuffer[FRAME_BUFFER_SIZE] = {};
    int32_t RxPending = 0;
    int32_t RxCount = 0;
    ComWriteBlock<SEND_BLOCK_ROOM> SendBlock;
    uint8_t RxChunk[RX_CHUNK_SIZE] = {};
    int8_t TimeoutState = Idle;
    int32_t TimeoutTicks = 0;

  private:
    void PutFrameInBlock(const uint8_t* frame, int n);
    int CurrentPortNumber() const;

    LinkHost& host_;
    ParamTable* table_;
    FrameHandlers* handlers_;

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
