#include <windows.h>

#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "portselect/PortList.h"
#include "portselect/RegistryPortSource_win32.h"
#include "serial/SerialApi_win32.h"
#include "tray/Platform.h"
#include "tray/Text.h"

namespace tray {

namespace {

volatile LONG g_stopSignal = 0;
UINT g_consoleOutputCp = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    ::InterlockedCompareExchange(&g_stopSignal, 2, 0);
    return TRUE;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

// UTF-8 of a wide word; a lone surrogate (no character at all) becomes bytes that are no UTF-8,
// so the value check refuses it instead of a '?' going to the adapter.
std::string Utf8(const wchar_t* word) {
    std::string out;
    for (const wchar_t* p = word; *p != 0; ++p) {
        uint32_t cp = static_cast<uint16_t>(*p);
        if (cp >= 0xD800 && cp <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint16_t>(p[1]) - 0xDC00);
            ++p;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            out += '\xFF';
            continue;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string ErrorText(DWORD code) {
    char text[256] = {};
    if (::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                         sizeof text, nullptr) == 0) {
        return "error " + std::to_string(code);
    }
    std::string out = text;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

bool PortName(const std::string& port, unsigned* number) {
    // The programs' own names: COM1 ... COM65535.
    if (port.size() > 3 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0) &&
        port.find_first_not_of("0123456789", 3) == std::string::npos) {
        const long n = std::strtol(port.c_str() + 3, nullptr, 10);
        if (n >= 1 && n <= 0xFFFF) {
            *number = static_cast<unsigned>(n);
            return true;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<serial::SerialApi> SerialApiFor(const std::string& port, bool, unsigned* number,
                                                std::string* error) {
    // The port's software flow control stays as the system has it, as in the two programs.
    if (PortName(port, number)) {
        auto api = std::make_unique<serial::Win32SerialApi>();
        // A reply that came after an earlier run gave up waiting would be taken for an answer.
        api->SetDiscardInputOnOpen(true);
        return api;
    }
    *error = port + " is no port (give COM1, COM2, ...)";
    return nullptr;
}

std::string PortTrouble(const std::string& port) {
    unsigned number = 0;
    if (!PortName(port, &number)) return std::string();
    const std::string device = "\\\\.\\COM" + std::to_string(number);
    HANDLE handle =
        ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return std::string();
    }
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return "no such port";
    if (code == ERROR_ACCESS_DENIED) return "held by another program";
    return ErrorText(code);
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

void PrepareProcess(bool* stdoutOpen) {
    // Ports and files are handles here, never the C runtime's descriptors 0 to 2.
    *stdoutOpen = _fileno(stdout) >= 0 && ::GetStdHandle(STD_OUTPUT_HANDLE) != nullptr;
    g_consoleOutputCp = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RestoreConsole() {
    if (g_consoleOutputCp != 0) ::SetConsoleOutputCP(g_consoleOutputCp);
}

std::vector<std::string> CommandLine(int argc, char** argv) {
    // main's words are in the ANSI code page, where a character the page lacks is already a '?':
    // take the words as typed.
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(Utf8(words[i]));
    ::LocalFree(words);
    return out;
}

int StopSignal() {
    return static_cast<int>(g_stopSignal);
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

FileKind KindOf(const std::string& path, int64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return FileKind::Missing;
    *size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Directory;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) ? FileKind::Other : FileKind::Regular;
}

namespace {

// CON, NUL, COM3, LPT1, "\\.\..." and the like: names that lead to a device, not a file.
bool DeviceName(const std::string& path) {
    if (path.compare(0, 4, "\\\\.\\") == 0 || path.compare(0, 4, "//./") == 0) return true;
    const size_t slash = path.find_last_of("/\\:");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (name == "CON" || name == "NUL" || name == "AUX" || name == "PRN" || name == "CONIN$" ||
        name == "CONOUT$")
        return true;
    return name.size() >= 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
           name.find_first_not_of("0123456789", 3) == std::string::npos;
}

}  // namespace

TargetKind TargetOf(const std::string& path, std::string* resolved) {
    *resolved = path;
    // Serial ports and consoles are devices; nothing is written to one but through its own API.
    if (DeviceName(path)) return TargetKind::Other;
    int64_t size = 0;
    switch (KindOf(path, &size)) {
        case FileKind::Missing:
            return TargetKind::Absent;
        case FileKind::Directory:
            return TargetKind::Directory;
        case FileKind::Regular:
            return TargetKind::Regular;
        default:
            return TargetKind::Other;
    }
}

std::string PortDevice(const std::string& port) {
    unsigned number = 0;
    return PortName(port, &number) ? "\\\\.\\COM" + std::to_string(number) : std::string();
}

bool SameFile(const std::string& a, const std::string& b) {
    // Ports are never files here (TargetOf refuses every device name), so two names are the same
    // file only when they are the same name.
    return !a.empty() && a == b;
}

bool StandardStreamIs(int, const std::string&) {
    return false;
}

void SilenceStandardError() {}

std::FILE* OpenInPlace(const std::string&) {
    return nullptr;
}

std::FILE* CreateTempBeside(const std::string& target, std::string* tempPath, std::string* error) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            target + "." + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
        HANDLE handle = ::CreateFileW(Wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            *error = ErrorText(::GetLastError());
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
        std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (file == nullptr) {
            if (fd >= 0) {
                _close(fd);
            } else {
                ::CloseHandle(handle);
            }
            ::DeleteFileW(Wide(name).c_str());
            *error = "cannot use the file";
            return nullptr;
        }
        *tempPath = name;
        return file;
    }
    *error = "no free name beside it";
    return nullptr;
}

bool MoveIntoPlace(const std::string& temp, const std::string& target, std::string* error) {
    if (::MoveFileExW(Wide(temp).c_str(), Wide(target).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    *error = ErrorText(::GetLastError());
    return false;
}

void RemoveFile(const std::string& path) {
    ::DeleteFileW(Wide(path).c_str());
}

std::FILE* OpenForReading(const std::string& path) {
    return _wfopen(Wide(path).c_str(), L"rb");
}

std::FILE* OpenForWriting(const std::string& path) {
    return _wfopen(Wide(path).c_str(), L"wb");
}

std::string CorePath(const std::string& path) {
    // The loader opens its file with the ANSI calls: hand it the name in the ANSI code page, or
    // its short name when the page cannot hold the long one.
    auto ansi = [](const std::wstring& wide, BOOL* lossy) {
        const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, lossy);
        std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
        ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &out[0], n, nullptr, nullptr);
        out.resize(out.size() - 1);
        return out;
    };
    const std::wstring wide = Wide(path);
    BOOL lossy = FALSE;
    const std::string name = ansi(wide, &lossy);
    wchar_t shortName[MAX_PATH];
    if (lossy && ::GetShortPathNameW(wide.c_str(), shortName, MAX_PATH) != 0) return ansi(shortName, &lossy);
    return name;
}

std::string LastErrorText() {
    return ErrorText(::GetLastError());
}

std::string DefaultStateDir() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == 0) return "krt42";
    return Utf8(local) + "\\krt42";
}

}  // namespace tray
