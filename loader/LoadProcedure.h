// The load procedure: a start sequence of two '+', then the program image in blocks of 8 bytes,
// one block per 20 ms tick once the previous write has gone out, and the whole image again after
// a restart sequence of eight '+' for every 'R' the adapter sends.
#pragma once

#include <cstdint>

#include "loader/ProgramImage.h"
#include "serial/ComDriver.h"

namespace loader {

enum LoadState : int32_t {
    Ready = 0,
    Pending = 7,
    Idle = 15,
};

// Notifications posted to the main window (WM_USER + 275 ... 277), both parameters 0.
enum : uint32_t {
    LM_RECEIVED = 0x0513,
    LM_SEND_BLOCK = 0x0514,
    LM_FINISHED = 0x0515,
};

constexpr unsigned LOAD_TIMER_ID = 18;
constexpr int BLOCK_SIZE = 8;
constexpr int RX_COUNT_MAX = 1023;
constexpr uint8_t RESTART_BYTE = 'R';

// What the procedure needs of the main window.
class LoaderHost {
  public:
    virtual ~LoaderHost() = default;
    virtual void SetBarPos(int percent) = 0;
    virtual void SetBarText(const char* text) = 0;    // the bar's window text (not displayed)
    virtual void SetLabelText(const char* text) = 0;  // the static label under the buttons
    virtual void SetStatusText(int pane, const char* text) = 0;
    virtual void EnableChooseButton(bool enable) = 0;
    virtual void SetStartTooltip(const char* text) = 0;
    // The start button's picture: the stop sign while a load runs, else the start arrow.
    virtual void ShowStopIcon(bool stop) = 0;
    virtual void PostLoaderMessage(uint32_t message) = 0;
};

class LoadProcedure {
  public:
    LoadProcedure(LoaderHost& host, ProgramImage& image, serial::ComDriver& com);

    // Command of the start/stop button, with the chosen path.
    void StartStop(const char* path);
    // Timer tick, every 20 ms, whatever the state.
    void Tick();
    // The main window's pre-translation: true for the three notifications, which it consumes.
    bool HandleMessage(uint32_t message);

    void OnSendBlock();
    void OnFinished();
    void OnReceived();

    // Fields of the main window that belong to the procedure.
    int32_t state = Idle;
    uint16_t blockSize = 0;  // 8 once the window has initialised
    int32_t total = 0;
    int32_t remaining = 0;
    int32_t position = 0;
    int32_t lastPercent = -1;
    uint8_t rxChunk[serial::COM_READ_BUFFER] = {};
    int32_t rxCount = 0;
    int32_t rxPending = 0;
    serial::ComWriteBlock<BLOCK_SIZE> sendBlock;
    // Restarts since the window opened; never reset by a new load.
    int32_t RestartCount = 0;
    // The last load was stopped because the driver reported its line failed; cleared at a start.
    bool lineFailed = false;
    // Read the input also at ticks that find the line free, before the next block goes out, so
    // that an 'R' is seen on a line that takes every write at once. Off in the windowed
    // program, whose tick reads only while a write is still going out.
    bool readEveryTick = false;

    // Start and restart sequences that fell due while a write was still going out; the first
    // tick that finds the channel free sends them, before any block.
    int SequencesDue() const { return dueCount_; }

  private:
    void Stop();
    // COM_READ into rxChunk; when bytes came, posts LM_RECEIVED and returns true.
    bool TakeInput();
    void SendSequence(int length);
    void Restart();
    int ChannelBusy();
    void Write();

    LoaderHost& host_;
    ProgramImage& image_;
    serial::ComDriver& com_;
    static constexpr int kDueMax = RX_COUNT_MAX + 1;  // one start plus one restart per byte read
    uint8_t due_[kDueMax] = {};                       // lengths of the due sequences, oldest first
    int dueFirst_ = 0;
    int dueCount_ = 0;
};

}  // namespace loader
