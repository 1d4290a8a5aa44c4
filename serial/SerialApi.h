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

// Values of the DCB fields that the driver sets, with the Windows values. Scoped names: the
// Windows headers define the plain ones (NOPARITY, SETRTS, EV_BREAK, ...) as macros.
enum class Parity : uint8_t { None = 0, Odd = 1, Even = 2 };
enum class StopBits : uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
enum class LineControl : uint8_t { Disable = 0, Enable = 1, Handshake = 2 };  // fDtrControl, fRtsControl

// The line settings that the driver reads and changes. A backend's SetLineSettings writes
// these fields and keeps every other setting of the port as it finds it (software flow
// control and the special characters included).
struct LineSettings {
    uint32_t baudRate = 0;
    uint8_t byteSize = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    bool fDsrSensitivity = false;
    bool fAbortOnError = false;
    LineControl fDtrControl = LineControl::Enable;
    LineControl fRtsControl = LineControl::Enable;
};

// EscapeCommFunction codes, with the Windows values.
enum class EscapeFunction : uint32_t {
    SetRts = 3,
    ClearRts = 4,
    SetDtr = 5,
    ClearDtr = 6,
    SetBreak = 8,
    ClearBreak = 9,
};

// The port event mask bit and the modem-status bits, with the Windows values.
namespace CommEvent {
constexpr uint32_t Break = 0x40;
}
namespace ModemStatus {
constexpr uint32_t CtsOn = 0x10, DsrOn = 0x20, RingOn = 0x40, RlsdOn = 0x80;
}

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

    // The stop event (manual reset, not signalled) and the start of a write worker's thread:
    // behind this interface so that a test can refuse them. Both have working defaults.
    virtual bool CreateStopEvent(fw::Event* event) { return event->Create(true, false); }
    virtual bool StartWorker(fw::WorkerThread* worker, int priority) {
        return worker->CreateThread(priority);
    }
};

}  // namespace serial
