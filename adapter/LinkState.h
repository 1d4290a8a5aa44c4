// The configurator's adapter link state: the main window's fields that the frame codec, the
// speed search and the parameter exchange share, and the constants of the frames and of the
// link messages.
#pragma once

#include <cstdint>

#include "portselect/Selection.h"
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

constexpr int FRAME_BUFFER_SIZE = 7168;
constexpr int FRAME_WRAP_AT = 7166;  // FramePos goes back to 0 after this position
constexpr int RX_CHUNK_SIZE = 13312;
constexpr int RX_TAKE_MAX = 6140;  // bytes of one chunk the assembler looks at
constexpr int SEND_BLOCK_ROOM = 7166;
constexpr int SEND_FRAME_MAX = 6000;  // bytes of a frame before its checksum
constexpr int EMPTY_FIELD = 12345;    // ReadNumberField's answer for an empty field

// The link states of TimeoutState: what happens when the countdown runs out.
enum LinkPhase : int8_t {
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

// The main window's link fields, in their order in the window. Large (the frame buffer and the
// read chunk): it lives inside the heap-allocated window, never on the stack.
struct LinkState {
    int32_t ParamIndex = -1;
    portselect::PortTable PortTable = {};
    serial::ComOpenBlock OpenParams;
    int32_t LineSpeed = 4800;
    int32_t TailStage = 0;
    int32_t FramePos = 0;
    int32_t DlePending = 0;
    uint8_t FrameBuffer[FRAME_BUFFER_SIZE] = {};
    int32_t RxPending = 0;
    int32_t RxCount = 0;
    serial::ComWriteBlock<SEND_BLOCK_ROOM> SendBlock;
    uint8_t RxChunk[RX_CHUNK_SIZE] = {};
    int8_t TimeoutState = Idle;
    int32_t TimeoutTicks = 0;
};

}  // namespace adapter
