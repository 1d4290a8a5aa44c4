#include <windows.h>

#include <io.h>

#include <cstdlib>

#include "cli/Platform.h"
#include "portselect/PortList.h"
#include "portselect/RegistryPortSource_win32.h"
#include "serial/SerialApi_win32.h"

namespace cli {

namespace {

volatile LONG g_interrupted = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    ::InterlockedExchange(&g_interrupted, 1);
    return TRUE;
}

}  // namespace

std::unique_ptr<serial::SerialApi> SerialApiFor(const std::string& port, unsigned* number,
                                                std::string* error) {
    // The programs' own names: COM1 ... COM65535.
    if (port.size() > 3 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0) &&
        port.find_first_not_of("0123456789", 3) == std::string::npos) {
        const long n = std::strtol(port.c_str() + 3, nullptr, 10);
        if (n >= 1 && n <= 0xFFFF) {
            *number = static_cast<unsigned>(n);
            return std::make_unique<serial::Win32SerialApi>();
        }
    }
    *error = port + " is no port (give COM1, COM2, ...)";
    return nullptr;
}

std::vector<std::string> ListPorts() {
    // The list the port dialogs build, from the same two registry lists and in the same order.
    portselect::SerialCommPortSource serialComm;
    portselect::RootPortsPortSource rootPorts;
    portselect::SortedPortList list;
    portselect::PortTable table = {};
    portselect::Selection selection;
    portselect::FillPortList(serialComm, rootPorts, list, table, selection);
    std::vector<std::string> ports;
    for (int32_t number : table) {
        if (number != 0) ports.push_back("COM" + std::to_string(number));
    }
    return ports;
}

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() {
    return g_interrupted != 0;
}

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

int64_t NowMs() {
    // GetTickCount64 is not on Windows XP; the performance counter is.
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<int64_t>(now.QuadPart / (frequency.QuadPart / 1000));
}

void SleepMs(int milliseconds) {
    if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace cli
