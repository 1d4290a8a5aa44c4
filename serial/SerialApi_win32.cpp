#include "serial/SerialApi_win32.h"

#include <windows.h>

#include <cstdio>

namespace serial {

PortHandle Win32SerialApi::Open(unsigned number) {
    // The "\\.\" prefix reaches ports above COM9 as well, which have no DOS device name.
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", static_cast<int>(number));
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    if (discardInputOnOpen_) PurgeComm(h, PURGE_RXCLEAR);
    return h;
}

void Win32SerialApi::Close(PortHandle port) {
    if (port != nullptr) CloseHandle(port);
}

bool Win32SerialApi::SetupQueues(PortHandle port, uint32_t inQueue, uint32_t outQueue) {
    return SetupComm(port, inQueue, outQueue) != 0;
}

bool Win32SerialApi::GetTimeouts(PortHandle port, CommTimeouts* timeouts) {
    COMMTIMEOUTS t;
    if (!GetCommTimeouts(port, &t)) return false;
    timeouts->readIntervalTimeout = t.ReadIntervalTimeout;
    timeouts->readTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts->readTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    timeouts->writeTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts->writeTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    return true;
}

bool Win32SerialApi::SetTimeouts(PortHandle port, const CommTimeouts& timeouts) {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = timeouts.readIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.readTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.readTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.writeTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.writeTotalTimeoutConstant;
    return SetCommTimeouts(port, &t) != 0;
}

bool Win32SerialApi::GetLineSettings(PortHandle port, LineSettings* settings) {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return false;
    settings->baudRate = dcb.BaudRate;
    settings->byteSize = dcb.ByteSize;
    settings->parity = static_cast<Parity>(dcb.Parity);
    settings->stopBits = static_cast<StopBits>(dcb.StopBits);
    settings->fParity = dcb.fParity != 0;
    settings->fOutxCtsFlow = dcb.fOutxCtsFlow != 0;
    settings->fOutxDsrFlow = dcb.fOutxDsrFlow != 0;
    settings->fDsrSensitivity = dcb.fDsrSensitivity != 0;
    settings->fAbortOnError = dcb.fAbortOnError != 0;
    settings->fDtrControl = static_cast<LineControl>(dcb.fDtrControl);
    settings->fRtsControl = static_cast<LineControl>(dcb.fRtsControl);
    return true;
}

bool Win32SerialApi::SetLineSettings(PortHandle port, const LineSettings& settings) {
    // Only these fields change; software flow control, the special characters and every
    // other field keep the values the port has.
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return false;
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = static_cast<BYTE>(settings.parity);
    dcb.StopBits = static_cast<BYTE>(settings.stopBits);
    dcb.fParity = settings.fParity ? 1 : 0;
    dcb.fOutxCtsFlow = settings.fOutxCtsFlow ? 1 : 0;
    dcb.fOutxDsrFlow = settings.fOutxDsrFlow ? 1 : 0;
    dcb.fDsrSensitivity = settings.fDsrSensitivity ? 1 : 0;
    dcb.fAbortOnError = settings.fAbortOnError ? 1 : 0;
    dcb.fDtrControl = static_cast<DWORD>(settings.fDtrControl);
    dcb.fRtsControl = static_cast<DWORD>(settings.fRtsControl);
    return SetCommState(port, &dcb) != 0;
}

bool Win32SerialApi::SetEventMask(PortHandle port, uint32_t mask) {
    return SetCommMask(port, mask) != 0;
}

bool Win32SerialApi::Escape(PortHandle port, EscapeFunction function) {
    return EscapeCommFunction(port, static_cast<DWORD>(function)) != 0;
}

bool Win32SerialApi::GetModemStatus(PortHandle port, uint32_t* status) {
    DWORD s = 0;
    if (!GetCommModemStatus(port, &s)) return false;
    *status = s;
    return true;
}

bool Win32SerialApi::Read(PortHandle port, uint8_t* buffer, uint32_t size, uint32_t* got) {
    DWORD n = 0;
    const BOOL ok = ReadFile(port, buffer, size, &n, nullptr);
    *got = ok ? n : 0;
    return ok != 0;
}

bool Win32SerialApi::Write(PortHandle port, const uint8_t* data, uint32_t size, uint32_t* written) {
    DWORD n = 0;
    const BOOL ok = WriteFile(port, data, size, &n, nullptr);
    *written = n;
    return ok != 0;
}

}  // namespace serial
