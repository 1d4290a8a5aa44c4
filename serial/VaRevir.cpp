#include "serial/VaRevir.h"

#include "serial/ComDriver.h"

namespace serial {

VaRevir::VaRevir() {
    // The driver asks COM_BUSY about the thread after it has ended, so the object must stay.
    m_bAutoDelete = false;
}

bool VaRevir::PreTranslateMessage(const fw::ThreadMessage& msg) {
    if (msg.message != WM_COMWRITE) return fw::WorkerThread::PreTranslateMessage(msg);
    WriteLoop();
    EndThread();
    return true;
}

bool VaRevir::StopSignalled(uint32_t timeoutMs) {
    return m_hEventStop != nullptr && m_hEventStop->Wait(timeoutMs);
}

void VaRevir::WriteLoop() {
    ComDriver* driver = m_pDriver;
    if (driver == nullptr) return;
    SerialApi& api = driver->api_;
    const PortHandle port = driver->port_;
    const bool keying = driver->keying_;

    // The loader's transmitter is keyed by RTS: high for exactly as long as bytes go out.
    if (keying) api.Escape(port, EscapeFunction::SetRts);

    const uint8_t* data = driver->pendingData_;
    uint32_t remaining = driver->pendingLength_;
    uint32_t offset = 0;
    int unproductive = 0;
    do {
        uint32_t written = 0;
        api.Write(port, data + offset, remaining, &written);
        if (written > remaining) written = remaining;  // a backend never takes more than it got
        if (written == remaining) break;
        if (written == 0) {
            // A port that reports errors would otherwise be hammered at time-critical priority.
            if (++unproductive >= kUnproductiveWritesLimit) {
                // Bytes are left and the port takes none of them: the line has failed, unless
                // the owner is closing the port anyway.
                if (!StopSignalled(0)) driver->lineFailed_ = true;
                break;
            }
            if (StopSignalled(kRetryPauseMs)) break;
        } else {
            unproductive = 0;
            if (StopSignalled(0)) break;
        }
        remaining -= written;
        offset += written;
        driver->pendingLength_ = remaining;
    } while (remaining != 0);

    if (keying) api.Escape(port, EscapeFunction::ClearRts);
}

}  // namespace serial
