// The serial-port driver of both programs: one entry, ComDriverCall, a command code, a place
// for the result and a parameter block. At most one open port per driver; each program's
// application object owns its driver and hands it on by reference.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "framework/Event.h"
#include "serial/SerialApi.h"

namespace serial {

// Command codes.
enum : uint32_t {
    COM_OPEN = 0,
    COM_WRITE = 1,
    COM_READ = 2,
    COM_SETLINES = 5,
    COM_CLOSE = 6,
    COM_BUSY = 7,
    COM_MODEMSTATUS = 8,
    COM_VERSION = 9,
};

// What a command leaves in *result besides a count: 0 for success and three failures.
enum ComResult : int {
    COM_OK = 0,
    COM_PORT_IN_USE = 1,  // COM_OPEN: another port is open ("Порт занят"); others: no port open
    COM_NOT_OPENED = 3,   // COM_OPEN: the device did not open; COM_WRITE: no worker started
    COM_NOT_USABLE = 4,   // COM_OPEN: no stop event, the port was given back; others: port 0
};

// The thread message that gives the write worker its order (WM_USER + 258).
constexpr uint32_t WM_COMWRITE = 0x0502;

constexpr uint32_t COM_INPUT_QUEUE = 7168;
constexpr uint32_t COM_OUTPUT_QUEUE = 1;
constexpr uint32_t COM_READ_MAX = 6144;       // bytes one COM_READ takes at most
constexpr uint32_t COM_READ_BUFFER = 6145;    // ... and the zero behind them
constexpr uint32_t COM_CLOSE_WAIT_MS = 5000;  // how long COM_CLOSE waits for a writing worker
constexpr std::size_t COM_VERSION_SIZE = 25;

// Parameter block of COM_OPEN. The configurator's block ends after format.
struct ComOpenBlock {
    uint16_t port = 0;    // COM port number; 0 = no port
    uint32_t speed = 0;   // bit/s
    uint16_t format = 0;  // data-format selector, read per program variant
    uint16_t keying = 0;  // loader: 1 = raise RTS around every write
};

// Parameter block of COM_WRITE: a 16-bit length followed directly by that many bytes.
// It must stay in place and unchanged until COM_BUSY answers 0.
template <std::size_t N>
struct ComWriteBlock {
    uint16_t length = 0;
    uint8_t data[N] = {};
};

enum class ComVariant {
    Configurator,  // " COM-driver Version 2.00"; format 0 = 8N1, else 8E1; lines via the DCB
    Loader,        // " COM-driver Version 4.00"; format 8 = 8N1, else 7E1; keying; EV_BREAK
};

class VaRevir;

class ComDriver {
  public:
    ComDriver(ComVariant variant, serial::SerialApi& api);
    ~ComDriver();
    ComDriver(const ComDriver&) = delete;
    ComDriver& operator=(const ComDriver&) = delete;

    // The single entry of the driver: always returns 1, the outcome is in *result.
    int ComDriverCall(uint32_t command, int* result, void* block);
    // COM_OPEN's and the other commands' outcome as a named result.
    ComResult Command(uint32_t command, void* block) {
        int result = COM_OK;
        ComDriverCall(command, &result, block);
        return static_cast<ComResult>(result);
    }

    ComVariant Variant() const { return variant_; }
    uint16_t CurrentPort() const { return currentPort_; }
    // True once the write last started on the open port was given up with bytes unsent (the
    // port kept failing or taking nothing) or no worker could be started for it. A stop by
    // COM_CLOSE is no failure. It speaks of that one write only: COM_WRITE clears it as it
    // starts the next worker, so a line that works again is not held against later writes;
    // COM_OPEN and COM_CLOSE clear it too. Ask COM_BUSY first: once it answers 0, the flag is
    // final for that write until the next COM_WRITE.
    bool LineFailed() const { return lineFailed_.load(); }

  private:
    void Open(int* result, const ComOpenBlock* block);
    void Write(int* result, const void* block);
    void Read(int* result, uint8_t* buffer);
    void SetLines(int* result, uint8_t lines);
    void Close(int* result);
    int Busy();
    void Version(int* result, char* text);

    ComVariant variant_;
    serial::SerialApi& api_;
    serial::PortHandle port_ = nullptr;
    uint16_t currentPort_ = 0;
    fw::Event stopEvent_;
    VaRevir* worker_ = nullptr;
    // The pending write: the worker reads it and lowers the remaining length.
    uint32_t pendingLength_ = 0;
    const uint8_t* pendingData_ = nullptr;
    bool keying_ = false;
    // Set by the worker on its own thread, read by the owner's.
    std::atomic<bool> lineFailed_{false};

    friend class VaRevir;
};

}  // namespace serial
