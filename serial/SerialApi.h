// The operating-system calls that the serial driver makes, as one narrow interface.
// Win32 implements it with the communications API, POSIX with termios, the unit tests
// with a scripted fake. The driver's decisions stay in ComDriver.cpp.
#pragma once

#include <cstdint>

#include "framework/Event.h"
#include "framework/WorkerThread.h"

namespace serial {

using PortHandle = void*;  // nullptr: no port

// The read and write time-outs of the port, as the Windows COMMTIMEOUTS record.
struct CommTimeouts {
    uint32_t readIntervalTimeout = 0;
    uint32_t readTotalTimeoutMultiplier = 0;
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;
    uint32_t writeTotalTimeoutConstant = 0;
};

// Values of the DCB fields that the driver sets.
enum : uint8_t { NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2 };
enum : uint8_t { ONESTOPBIT = 0 };
enum : uint8_t { DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1 };
enum : uint8_t { RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1 };

// The line settings that the driver reads and changes. A backend's SetLineSettings writes
// these fields and keeps every other setting of the port as it finds it (software flow
// control and the special characters included).
struct LineSettings {
    uint32_t baudRate = 0;
    uint8_t byteSize = 8;
    uint8_t parity = NOPARITY;
    uint8_t stopBits = ONESTOPBIT;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    bool fDsrSensitivity = false;
    bool fAbortOnError = false;
    uint8_t fDtrControl = DTR_CONTROL_ENABLE;
    uint8_t fRtsControl = RTS_CONTROL_ENABLE;
};

// EscapeCommFunction codes, with the Windows values.
enum class EscapeFunction : uint32_t {
    SETRTS = 3,
    CLRRTS = 4,
    SETDTR = 5,
    CLRDTR = 6,
    SETBREAK = 8,
    CLRBREAK = 9,
};

constexpr uint32_t EV_BREAK = 0x40;
constexpr uint32_t MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80;

class SerialApi {
  public:
    virtual ~SerialApi() = default;

    // Opens COM port `number` for this process alone (Windows: "\\.\COM%d", no sharing,
    // no overlapped I/O). nullptr when it cannot be opened.
    virtual PortHandle Open(unsigned number) = 0;
    virtual void Close(PortHandle port) = 0;
    virtual bool SetupQueues(PortHandle port, uint32_t inQueue, uint32_t outQueue) = 0;
    virtual bool GetTimeouts(PortHandle port, CommTimeouts* timeouts) = 0;
    virtual bool SetTimeouts(PortHandle port, const CommTimeouts& timeouts) = 0;
    virtual bool GetLineSettings(PortHandle port, LineSettings* settings) = 0;
    virtual bool SetLineSettings(PortHandle port, const LineSettings& settings) = 0;
    virtual bool SetEventMask(PortHandle port, uint32_t mask) = 0;
    virtual bool Escape(PortHandle port, EscapeFunction function) = 0;
    virtual bool GetModemStatus(PortHandle port, uint32_t* status) = 0;
    // Takes up to `size` received bytes without waiting (under the driver's time-outs).
    virtual bool Read(PortHandle port, uint8_t* buffer, uint32_t size, uint32_t* got) = 0;
    // Sends bytes; *written is what the port took. May block while the line is stalled.
    virtual bool Write(PortHandle port, const uint8_t* data, uint32_t size, uint32_t* written) = 0;

    // The stop event (manual reset, not signalled) and the worker's start: behind this
    // interface so that a test can refuse them. Both have working defaults.
    virtual bool CreateStopEvent(fw::Event* event) { return event->Create(true, false); }
    virtual fw::WorkerThread* BeginWorker(const fw::RuntimeClass* cls, int priority) {
        return fw::BeginThread(cls, priority);
    }
};

}  // namespace serial
