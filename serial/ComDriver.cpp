#include "serial/ComDriver.h"

#include <cstdio>
#include <cstring>

#include "serial/VaRevir.h"

namespace serial {

namespace {

constexpr int kVersionMajorConfigurator = 2;
constexpr int kVersionMajorLoader = 4;
constexpr int kVersionMinor = 0;

}  // namespace

ComDriver::ComDriver(ComVariant variant, SerialApi& api) : variant_(variant), api_(api) {}

ComDriver::~ComDriver() {
    // A worker must never outlive the driver whose pending write it reads.
    if (port_ != nullptr) {
        int ignored = 0;
        Close(&ignored);
    }
}

int ComDriver::ComDriverCall(uint32_t command, int* result, void* block) {
    int scratch = 0;
    if (result == nullptr) result = &scratch;
    switch (command) {
        case COM_OPEN:
            if (block != nullptr) Open(result, static_cast<const ComOpenBlock*>(block));
            break;
        case COM_WRITE:
            if (block != nullptr) Write(result, block);
            break;
        case COM_READ:
            Read(result, static_cast<uint8_t*>(block));
            break;
        case 3:
        case 4:
            break;  // unassigned: *result stays as the caller left it
        case COM_SETLINES:
            SetLines(result, block != nullptr ? *static_cast<const uint8_t*>(block) : 0);
            break;
        case COM_CLOSE:
            Close(result);
            break;
        case COM_BUSY:
            *result = Busy();
            break;
        case COM_MODEMSTATUS:
            *result = 0;
            if (port_ != nullptr && block != nullptr) {
                uint32_t status = 0;
                // A port without modem lines reports none rather than leaving the caller's value.
                if (!api_.GetModemStatus(port_, &status)) status = 0;
                std::memcpy(block, &status, sizeof status);
            }
            break;
        default:  // COM_VERSION and every higher code
            Version(result, static_cast<char*>(block));
            break;
    }
    return 1;
}

void ComDriver::Open(int* result, const ComOpenBlock* block) {
    const uint16_t port = block->port;
    // Also answers a request for port 0 while nothing is open: there is nothing to open.
    if (port == currentPort_) {
        *result = 0;
        return;
    }
    if (port_ != nullptr) {
        *result = COM_PORT_IN_USE;
        return;
    }
    PortHandle handle = api_.Open(port);
    if (handle == nullptr) {
        *result = COM_NOT_OPENED;
        return;
    }
    if (variant_ == ComVariant::Loader) keying_ = block->keying == 1;

    api_.SetupQueues(handle, COM_INPUT_QUEUE, COM_OUTPUT_QUEUE);

    // Reads return at once with what has arrived; writes have no time limit.
    CommTimeouts timeouts;
    api_.GetTimeouts(handle, &timeouts);
    timeouts.readIntervalTimeout = 0xFFFFFFFFu;
    timeouts.readTotalTimeoutMultiplier = 0;
    timeouts.readTotalTimeoutConstant = 0;
    timeouts.writeTotalTimeoutMultiplier = 0;
    timeouts.writeTotalTimeoutConstant = 0;
    api_.SetTimeouts(handle, timeouts);

    LineSettings lines;
    api_.GetLineSettings(handle, &lines);
    lines.baudRate = block->speed;
    if (variant_ == ComVariant::Configurator) {
        lines.byteSize = 8;
        lines.parity = block->format == 0 ? Parity::None : Parity::Even;
    } else if (block->format == 8) {
        lines.byteSize = 8;
        lines.parity = Parity::None;
    } else {
        lines.byteSize = 7;
        lines.parity = Parity::Even;
    }
    lines.stopBits = StopBits::One;
    lines.fParity = false;
    lines.fOutxCtsFlow = false;
    lines.fOutxDsrFlow = false;
    lines.fDsrSensitivity = false;
    lines.fAbortOnError = false;
    lines.fDtrControl = LineControl::Enable;
    lines.fRtsControl = LineControl::Enable;
    api_.SetLineSettings(handle, lines);

    if (variant_ == ComVariant::Loader) api_.SetEventMask(handle, CommEvent::Break);

    if (!api_.CreateStopEvent(&stopEvent_)) {
        // Without a stop event no write could ever be stopped: give the port back at once,
        // so that later commands see no port and another open can succeed.
        api_.Close(handle);
        keying_ = false;
        *result = COM_NOT_USABLE;
        return;
    }
    port_ = handle;
    currentPort_ = port;
    worker_ = nullptr;
    lineFailed_ = false;
    *result = 0;
}

void ComDriver::Write(int* result, const void* block) {
    if (port_ == nullptr) {
        *result = COM_PORT_IN_USE;
        return;
    }
    if (currentPort_ == 0 || !stopEvent_.IsValid()) {
        *result = COM_NOT_USABLE;
        return;
    }
    // Callers keep to one write at a time. Should one not, the running worker still owns the
    // pending write and its object: starting another would corrupt both.
    if (worker_ != nullptr && !worker_->WaitForEnd(0)) {
        *result = COM_NOT_OPENED;
        return;
    }
    delete worker_;
    worker_ = nullptr;
    // The previous worker has ended, so whatever it said about its write is in, and nothing of
    // it can come after this: the flag now belongs to the write that starts here. Cleared
    // before the new worker exists, so that its own verdict can never be overwritten.
    lineFailed_ = false;

    uint16_t length = 0;
    std::memcpy(&length, block, sizeof length);
    pendingLength_ = length;
    pendingData_ = static_cast<const uint8_t*>(block) + sizeof length;

    stopEvent_.Reset();

    auto* worker = new VaRevir;
    if (!api_.StartWorker(worker, fw::kPriorityTimeCritical)) {
        delete worker;
        lineFailed_ = true;
        *result = COM_NOT_OPENED;
        return;
    }
    worker->m_hEventStop = &stopEvent_;
    worker->m_pDriver = this;
    if (!worker->PostThreadMessage(WM_COMWRITE, 0, 0)) {
        // A worker that never gets its order would keep COM_BUSY at 1 for ever.
        worker->Terminate();
        delete worker;
        lineFailed_ = true;
        *result = COM_NOT_OPENED;
        return;
    }
    worker_ = worker;
    *result = 0;
}

void ComDriver::Read(int* result, uint8_t* buffer) {
    if (port_ == nullptr || buffer == nullptr) {
        *result = 0;
        return;
    }
    uint32_t count = 0;
    if (currentPort_ != 0) {
        if (!api_.Read(port_, buffer, COM_READ_MAX, &count)) count = 0;
        if (count > COM_READ_MAX) count = COM_READ_MAX;
    }
    buffer[count] = 0;
    *result = static_cast<int>(count);
}

void ComDriver::SetLines(int* result, uint8_t lines) {
    if (port_ == nullptr || currentPort_ == 0) {
        *result = COM_NOT_USABLE;
        return;
    }
    if (variant_ == ComVariant::Configurator) {
        LineSettings settings;
        api_.GetLineSettings(port_, &settings);
        settings.fDtrControl = (lines & 1) != 0 ? LineControl::Enable : LineControl::Disable;
        settings.fRtsControl = (lines & 2) != 0 ? LineControl::Enable : LineControl::Disable;
        api_.SetLineSettings(port_, settings);
    } else {
        api_.Escape(port_, (lines & 1) != 0 ? EscapeFunction::SetDtr : EscapeFunction::ClearDtr);
        api_.Escape(port_, (lines & 2) != 0 ? EscapeFunction::SetRts : EscapeFunction::ClearRts);
        api_.Escape(port_, (lines & 4) != 0 ? EscapeFunction::SetBreak : EscapeFunction::ClearBreak);
    }
    *result = 0;
}

void ComDriver::Close(int* result) {
    if (port_ == nullptr) {
        *result = COM_PORT_IN_USE;
        return;
    }
    stopEvent_.Set();
    if (worker_ != nullptr) {
        // The worker looks at the stop event only between partial writes; one stuck inside a
        // write is ended from outside, and its unsent bytes are lost.
        if (!worker_->WaitForEnd(COM_CLOSE_WAIT_MS)) worker_->Terminate();
        delete worker_;
        worker_ = nullptr;
    }
    stopEvent_.Close();
    currentPort_ = 0;
    keying_ = false;
    // Only now: the worker, which may still have been giving up, has ended.
    lineFailed_ = false;
    api_.Close(port_);
    port_ = nullptr;
    *result = 0;
}

int ComDriver::Busy() {
    if (currentPort_ == 0 || !stopEvent_.IsValid() || worker_ == nullptr) return 0;
    return worker_->WaitForEnd(0) ? 0 : 1;
}

void ComDriver::Version(int* result, char* text) {
    *result = Busy();
    if (text == nullptr) return;
    const int major = variant_ == ComVariant::Configurator ? kVersionMajorConfigurator : kVersionMajorLoader;
    std::snprintf(text, COM_VERSION_SIZE, " COM-driver Version %d.%02d", major, kVersionMinor);
}

}  // namespace serial
