// The end-to-end tests' eyes and hands inside Wine: a long-lived console program that takes one
// command a line on stdin and answers one line on stdout, "OK ..." or "ERR ...", so that one Wine
// start serves a whole test. Window handles travel as hex numbers; texts and captions travel as the
// hex of their bytes, so the programs' 1251 bytes cross the pipe untouched by any code page.
//
//   find [CAPTIONHEX]           top-level dialog (#32770) with that caption (none: an empty one): OK hwnd
//   exists HWND                 OK 1|0
//   item HWND ID                handle of a control: OK hwnd (0: none)
//   enabled|visible HWND ID     OK 1|0
//   text HWND ID                window text (WM_GETTEXT): OK hex
//   sbparts HWND / sbtext HWND PART   the status bar (id 59393) of the window
//   lvcount HWND ID / lvtext HWND ID ROW COL / lvimage HWND ID ROW / lvstate HWND ID ROW
//   lvrect HWND ID ROW          bounds of a row in the list's client coordinates: OK l t r b
//   pbpos HWND ID               progress-bar position
//   cbcount HWND ID / cbsel HWND ID / cbtext HWND ID INDEX   a combo box's entries and selection
//   cbselect HWND ID INDEX      CB_SETCURSEL (-1: none) and CBN_SELCHANGE to the dialog: OK new selection
//   rect HWND ID                screen rectangle: OK left top right bottom
//   key HWND NAME               foreground + SendInput down/up (escape, enter, f5, tab, space or a number)
//   click HWND ID               posted BM_CLICK (fires even on a disabled button under Wine: test first)
//   command HWND ID             posted WM_COMMAND BN_CLICKED
//   close HWND / cancel HWND    posted WM_CLOSE / WM_COMMAND IDCANCEL
//   mouse HWND ID ACTION [X Y]  move|click|dclick|rclick at X,Y of the control (default: its centre)
//   foreground / pid HWND / quit
//   popup HWND                  a shown dialog (#32770) owned by HWND, one it opened: OK hwnd (0: none)
//   settext HWND ID HEX         WM_SETTEXT with those bytes (typing a name into a dialog's edit field)
//   tiptext HWND ID             the text of the control's tool in the window's tooltip control: OK hex
//   syscommand HWND CODE [ARG]  posted WM_SYSCOMMAND (a system-menu item chosen; SC_KEYMENU 32 opens the
//   menu) holdfile PATHHEX / releasefile   hold a file open for writing (sharing read and write), as an
//                               editor that is still writing it
//   loopflags HWND              GUITHREADINFO flags of the window's thread (menu mode 4, move or size 2)
//
// ID "-" names the window itself. Messages that cross into the program are sent with a time-out, so a
// program that hangs shows as "ERR timeout" instead of hanging the probe.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int STATUS_BAR_ID = 59393;
constexpr UINT SEND_TIMEOUT_MS = 5000;

std::string Hex(const char* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        unsigned char b = static_cast<unsigned char>(data[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool Unhex(const char* text, std::string* out) {
    size_t n = strlen(text);
    if (n % 2 != 0) return false;
    out->clear();
    for (size_t i = 0; i < n; i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        long v = strtol(pair, &end, 16);
        if (*end != 0) return false;
        *out += static_cast<char>(v);
    }
    return true;
}

void Reply(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

// Memory in the observed process: list views and status bars hand out texts only through pointers
// that are valid in their own address space.
class RemoteBuffer {
  public:
    RemoteBuffer(HWND window, size_t size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool Ok() const { return address_ != nullptr; }
    char* At(size_t offset) const { return static_cast<char*>(address_) + offset; }
    bool Write(size_t offset, const void* data, size_t size) {
        SIZE_T done = 0;
        return WriteProcessMemory(process_, At(offset), data, size, &done) && done == size;
    }
    bool Read(size_t offset, void* data, size_t size) {
        SIZE_T done = 0;
        return ReadProcessMemory(process_, At(offset), data, size, &done) && done == size;
    }

  private:
    size_t size_;
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
};

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &answer))
        return false;
    *result = static_cast<LRESULT>(answer);
    return true;
}

// Window handles in full: a 64-bit program's handles do not fit an unsigned long.
std::string HandleText(HWND window) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
    return text;
}

HWND ParseWindow(const char* token) {
    if (!token) return nullptr;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(token, nullptr, 16)));
}

HWND Control(HWND window, const char* id) {
    if (!id || !IsWindow(window)) return nullptr;
    if (strcmp(id, "-") == 0) return window;
    return GetDlgItem(window, atoi(id));
}

void ReplyText(HWND control) {
    LRESULT length = 0;
    if (!Send(control, WM_GETTEXTLENGTH, 0, 0, &length)) return Reply("ERR timeout");
    std::vector<char> text(static_cast<size_t>(length) + 2, 0);
    LRESULT got = 0;
    if (!Send(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &got))
        return Reply("ERR timeout");
    Reply("OK %s", Hex(text.data(), strlen(text.data())).c_str());
}

void ReplyStatusText(HWND bar, int part) {
    LRESULT length = 0;
    if (!Send(bar, SB_GETTEXTLENGTHA, part, 0, &length)) return Reply("ERR timeout");
    // The text may grow between the two messages: a buffer of the old length would be overrun
    // in the program and read back torn.
    size_t size = LOWORD(length) + 2;
    if (size < 1024) size = 1024;
    RemoteBuffer buffer(bar, size);
    std::vector<char> zero(size, 0);
    if (!buffer.Ok() || !buffer.Write(0, zero.data(), size)) return Reply("ERR remote memory");
    LRESULT got = 0;
    if (!Send(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(buffer.At(0)), &got))
        return Reply("ERR timeout");
    std::vector<char> text(size, 0);
    if (!buffer.Read(0, text.data(), size)) return Reply("ERR remote memory");
    text[size - 1] = 0;
    Reply("OK %s", Hex(text.data(), strlen(text.data())).c_str());
}

void ReplyListText(HWND list, int row, int column) {
    constexpr size_t TEXT_SIZE = 1024;
    RemoteBuffer buffer(list, sizeof(LVITEMA) + TEXT_SIZE);
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = buffer.At(sizeof(LVITEMA));
    item.cchTextMax = TEXT_SIZE;
    std::vector<char> text(TEXT_SIZE, 0);
    if (!buffer.Ok() || !buffer.Write(0, &item, sizeof item) ||
        !buffer.Write(sizeof(LVITEMA), text.data(), TEXT_SIZE))
        return Reply("ERR remote memory");
    LRESULT got = 0;
    if (!Send(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(buffer.At(0)), &got))
        return Reply("ERR timeout");
    if (!buffer.Read(sizeof(LVITEMA), text.data(), TEXT_SIZE)) return Reply("ERR remote memory");
    text[TEXT_SIZE - 1] = 0;
    Reply("OK %s", Hex(text.data(), strlen(text.data())).c_str());
}

void ReplyListItem(HWND list, int row, UINT mask) {
    RemoteBuffer buffer(list, sizeof(LVITEMA));
    LVITEMA item = {};
    item.mask = mask;
    item.iItem = row;
    item.stateMask = static_cast<UINT>(-1);
    if (!buffer.Ok() || !buffer.Write(0, &item, sizeof item)) return Reply("ERR remote memory");
    LRESULT ok = 0;
    if (!Send(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(buffer.At(0)), &ok))
        return Reply("ERR timeout");
    if (!ok) return Reply("ERR no item");
    if (!buffer.Read(0, &item, sizeof item)) return Reply("ERR remote memory");
    Reply("OK %d", mask == LVIF_IMAGE ? item.iImage : static_cast<int>(item.state));
}

void ReplyListRect(HWND list, int row) {
    RemoteBuffer buffer(list, sizeof(RECT));
    RECT r = {};
    r.left = LVIR_BOUNDS;
    if (!buffer.Ok() || !buffer.Write(0, &r, sizeof r)) return Reply("ERR remote memory");
    LRESULT ok = 0;
    if (!Send(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(buffer.At(0)), &ok))
        return Reply("ERR timeout");
    if (!ok) return Reply("ERR no item");
    if (!buffer.Read(0, &r, sizeof r)) return Reply("ERR remote memory");
    Reply("OK %ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
}

WORD KeyCode(const char* name) {
    if (!name) return 0;
    if (_stricmp(name, "escape") == 0) return VK_ESCAPE;
    if (_stricmp(name, "enter") == 0) return VK_RETURN;
    if (_stricmp(name, "f5") == 0) return VK_F5;
    if (_stricmp(name, "tab") == 0) return VK_TAB;
    if (_stricmp(name, "space") == 0) return VK_SPACE;
    return static_cast<WORD>(atoi(name));
}

// The programs test keys with GetKeyState, which only real input moves: a posted WM_KEYDOWN would
// leave it at 0. Input goes to the foreground window, so bring the target there first.
bool BringToFront(HWND window) {
    SetForegroundWindow(window);
    for (int i = 0; i < 100; ++i) {
        HWND front = GetForegroundWindow();
        if (front == window || GetAncestor(front, GA_ROOTOWNER) == window) return true;
        Sleep(20);
        SetForegroundWindow(window);
    }
    return false;
}

void PressKey(HWND window, WORD key) {
    if (!BringToFront(window)) return Reply("ERR not foreground");
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    if (SendInput(2, input, sizeof(INPUT)) != 2) return Reply("ERR SendInput %lu", GetLastError());
    Reply("OK");
}

void Mouse(HWND control, const char* action, const char* x, const char* y) {
    RECT r;
    if (!GetWindowRect(control, &r)) return Reply("ERR no control");
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    if (x && y) {
        POINT local = {atoi(x), atoi(y)};
        ClientToScreen(control, &local);
        p = local;
    }
    HWND top = GetAncestor(control, GA_ROOT);
    if (strcmp(action, "move") != 0 && !BringToFront(top)) return Reply("ERR not foreground");
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT move = {};
    move.type = INPUT_MOUSE;
    move.mi.dx = MulDiv(p.x, 65535, width - 1);
    move.mi.dy = MulDiv(p.y, 65535, height - 1);
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    std::vector<INPUT> inputs(1, move);
    DWORD down = 0, up = 0;
    int clicks = 0;
    if (strcmp(action, "click") == 0 || strcmp(action, "dclick") == 0) {
        down = MOUSEEVENTF_LEFTDOWN, up = MOUSEEVENTF_LEFTUP;
        clicks = action[0] == 'd' ? 2 : 1;
    } else if (strcmp(action, "rclick") == 0) {
        down = MOUSEEVENTF_RIGHTDOWN, up = MOUSEEVENTF_RIGHTUP;
        clicks = 1;
    } else if (strcmp(action, "move") != 0) {
        return Reply("ERR unknown mouse action");
    }
    for (int i = 0; i < clicks; ++i) {
        INPUT press = {};
        press.type = INPUT_MOUSE;
        press.mi.dwFlags = down;
        inputs.push_back(press);
        press.mi.dwFlags = up;
        inputs.push_back(press);
    }
    UINT n = static_cast<UINT>(inputs.size());
    if (SendInput(n, inputs.data(), sizeof(INPUT)) != n) return Reply("ERR SendInput %lu", GetLastError());
    Reply("OK %ld %ld", p.x, p.y);
}

struct PopupSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindPopup(HWND window, LPARAM data) {
    PopupSearch* search = reinterpret_cast<PopupSearch*>(data);
    // A tooltip shown under the mouse is an owned, visible window too: only dialogs count.
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window) ||
        strcmp(name, "#32770") != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

struct ToolTipSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindToolTip(HWND window, LPARAM data) {
    ToolTipSearch* search = reinterpret_cast<ToolTipSearch*>(data);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (GetWindow(window, GW_OWNER) != search->owner || _stricmp(name, TOOLTIPS_CLASSA) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

// The tooltip control keeps its texts in the program's memory: the record and the text buffer
// of TTM_GETTEXTA must lie there too.
void ReplyToolText(HWND window, HWND control) {
    constexpr size_t TEXT_SIZE = 1024;
    ToolTipSearch search = {window, nullptr};
    EnumWindows(FindToolTip, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return Reply("ERR no tooltip");
    RemoteBuffer buffer(search.found, sizeof(TOOLINFOA) + TEXT_SIZE);
    TOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.hwnd = window;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = buffer.At(sizeof(TOOLINFOA));
    std::vector<char> text(TEXT_SIZE, 0);
    if (!buffer.Ok() || !buffer.Write(0, &info, sizeof info) ||
        !buffer.Write(sizeof(TOOLINFOA), text.data(), TEXT_SIZE))
        return Reply("ERR remote memory");
    LRESULT got = 0;
    if (!Send(search.found, TTM_GETTEXTA, TEXT_SIZE, reinterpret_cast<LPARAM>(buffer.At(0)), &got))
        return Reply("ERR timeout");
    if (!buffer.Read(sizeof(TOOLINFOA), text.data(), TEXT_SIZE)) return Reply("ERR remote memory");
    text[TEXT_SIZE - 1] = 0;
    Reply("OK %s", Hex(text.data(), strlen(text.data())).c_str());
}

HANDLE heldFile = INVALID_HANDLE_VALUE;

// Runs one command line; returns false on "quit".
bool Run(char* line) {
    const char* verb = strtok(line, " ");
    if (!verb) return Reply("ERR empty"), true;
    if (strcmp(verb, "quit") == 0) return Reply("OK"), false;
    if (strcmp(verb, "foreground") == 0)
        return Reply("OK %s", HandleText(GetForegroundWindow()).c_str()), true;

    const char* arg1 = strtok(nullptr, " ");
    if (strcmp(verb, "holdfile") == 0) {
        // Another program writing the file: opened for writing, sharing reading and writing.
        std::string path;
        if (!arg1 || !Unhex(arg1, &path)) return Reply("ERR path"), true;
        if (heldFile != INVALID_HANDLE_VALUE) CloseHandle(heldFile);
        heldFile = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (heldFile == INVALID_HANDLE_VALUE) return Reply("ERR open %lu", GetLastError()), true;
        return Reply("OK"), true;
    }
    if (strcmp(verb, "releasefile") == 0) {
        if (heldFile != INVALID_HANDLE_VALUE) CloseHandle(heldFile);
        heldFile = INVALID_HANDLE_VALUE;
        return Reply("OK"), true;
    }
    if (strcmp(verb, "find") == 0) {
        std::string caption;
        if (arg1 && !Unhex(arg1, &caption)) return Reply("ERR caption"), true;
        return Reply("OK %s", HandleText(FindWindowA("#32770", caption.c_str())).c_str()), true;
    }
    HWND window = ParseWindow(arg1);
    if (strcmp(verb, "exists") == 0) return Reply("OK %d", IsWindow(window) ? 1 : 0), true;
    if (!IsWindow(window)) return Reply("ERR no window"), true;
    if (strcmp(verb, "pid") == 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        return Reply("OK %lu", pid), true;
    }
    if (strcmp(verb, "popup") == 0) {
        PopupSearch search = {window, nullptr};
        EnumWindows(FindPopup, reinterpret_cast<LPARAM>(&search));
        return Reply("OK %s", HandleText(search.found).c_str()), true;
    }
    if (strcmp(verb, "syscommand") == 0) {
        const char* code = strtok(nullptr, " ");
        if (!code) return Reply("ERR code"), true;
        WPARAM command = static_cast<WPARAM>(strtoul(code, nullptr, 0));
        const char* extra = strtok(nullptr, " ");
        LPARAM argument = extra ? static_cast<LPARAM>(strtol(extra, nullptr, 0)) : 0;
        return Reply(PostMessageA(window, WM_SYSCOMMAND, command, argument) ? "OK" : "ERR post"), true;
    }
    if (strcmp(verb, "loopflags") == 0) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
            return Reply("ERR info"), true;
        return Reply("OK %lu", static_cast<unsigned long>(info.flags)), true;
    }
    if (strcmp(verb, "close") == 0)
        return Reply(PostMessageA(window, WM_CLOSE, 0, 0) ? "OK" : "ERR post"), true;
    if (strcmp(verb, "cancel") == 0)
        return Reply(PostMessageA(window, WM_COMMAND, IDCANCEL, 0) ? "OK" : "ERR post"), true;
    if (strcmp(verb, "key") == 0) {
        WORD key = KeyCode(strtok(nullptr, " "));
        if (!key) return Reply("ERR key"), true;
        return PressKey(window, key), true;
    }
    if (strcmp(verb, "sbparts") == 0 || strcmp(verb, "sbtext") == 0) {
        HWND bar = GetDlgItem(window, STATUS_BAR_ID);
        if (!bar) return Reply("ERR no status bar"), true;
        LRESULT parts = 0;
        if (verb[2] == 'p') {
            if (!Send(bar, SB_GETPARTS, 0, 0, &parts)) return Reply("ERR timeout"), true;
            return Reply("OK %d", static_cast<int>(parts)), true;
        }
        const char* part = strtok(nullptr, " ");
        if (!part) return Reply("ERR part"), true;
        return ReplyStatusText(bar, atoi(part)), true;
    }

    HWND control = Control(window, strtok(nullptr, " "));
    if (!control) return Reply("ERR no control"), true;
    const char* a = strtok(nullptr, " ");
    const char* b = strtok(nullptr, " ");
    LRESULT value = 0;
    if (strcmp(verb, "item") == 0) return Reply("OK %s", HandleText(control).c_str()), true;
    if (strcmp(verb, "enabled") == 0) return Reply("OK %d", IsWindowEnabled(control) ? 1 : 0), true;
    if (strcmp(verb, "visible") == 0) return Reply("OK %d", IsWindowVisible(control) ? 1 : 0), true;
    if (strcmp(verb, "text") == 0) return ReplyText(control), true;
    if (strcmp(verb, "tiptext") == 0) return ReplyToolText(window, control), true;
    if (strcmp(verb, "settext") == 0) {
        std::string text;
        if (!a || !Unhex(a, &text)) return Reply("ERR text"), true;
        if (!Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &value))
            return Reply("ERR timeout"), true;
        return Reply(value ? "OK" : "ERR refused"), true;
    }
    if (strcmp(verb, "rect") == 0) {
        RECT r;
        GetWindowRect(control, &r);
        return Reply("OK %ld %ld %ld %ld", r.left, r.top, r.right, r.bottom), true;
    }
    if (strcmp(verb, "click") == 0)
        return Reply(PostMessageA(control, BM_CLICK, 0, 0) ? "OK" : "ERR post"), true;
    if (strcmp(verb, "command") == 0) {
        WPARAM w = MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED);
        return Reply(PostMessageA(window, WM_COMMAND, w, (LPARAM)control) ? "OK" : "ERR post"), true;
    }
    if (strcmp(verb, "mouse") == 0) {
        const char* y = strtok(nullptr, " ");
        return Mouse(control, a ? a : "", y ? b : nullptr, y), true;
    }
    if (strcmp(verb, "pbpos") == 0 || strcmp(verb, "lvcount") == 0) {
        UINT message = verb[0] == 'p' ? PBM_GETPOS : LVM_GETITEMCOUNT;
        if (!Send(control, message, 0, 0, &value)) return Reply("ERR timeout"), true;
        return Reply("OK %d", static_cast<int>(value)), true;
    }
    if (strcmp(verb, "cbcount") == 0 || strcmp(verb, "cbsel") == 0) {
        UINT message = verb[2] == 'c' ? CB_GETCOUNT : CB_GETCURSEL;
        if (!Send(control, message, 0, 0, &value)) return Reply("ERR timeout"), true;
        return Reply("OK %d", static_cast<int>(value)), true;
    }
    if (!a) return Reply("ERR row"), true;
    if (strcmp(verb, "cbtext") == 0) {
        // Combo-box texts are marshalled between processes, but under Wine the ANSI request comes
        // back in UTF-16: ask for UTF-16 and convert to the ANSI code page here.
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(control, CB_GETLBTEXTLEN, atoi(a), 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                                 &length))
            return Reply("ERR timeout"), true;
        if (static_cast<LRESULT>(length) < 0) return Reply("ERR no entry"), true;
        std::vector<wchar_t> wide(length + 2, 0);
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutW(control, CB_GETLBTEXT, atoi(a), reinterpret_cast<LPARAM>(wide.data()),
                                 SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &got))
            return Reply("ERR timeout"), true;
        std::vector<char> text(wide.size() * 2, 0);
        WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, text.data(), static_cast<int>(text.size()), nullptr,
                            nullptr);
        return Reply("OK %s", Hex(text.data(), strlen(text.data())).c_str()), true;
    }
    if (strcmp(verb, "cbselect") == 0) {
        if (!Send(control, CB_SETCURSEL, atoi(a), 0, &value)) return Reply("ERR timeout"), true;
        WPARAM w = MAKEWPARAM(GetDlgCtrlID(control), CBN_SELCHANGE);
        if (!Send(window, WM_COMMAND, w, (LPARAM)control, &value)) return Reply("ERR timeout"), true;
        if (!Send(control, CB_GETCURSEL, 0, 0, &value)) return Reply("ERR timeout"), true;
        return Reply("OK %d", static_cast<int>(value)), true;
    }
    if (strcmp(verb, "lvtext") == 0) return ReplyListText(control, atoi(a), b ? atoi(b) : 0), true;
    if (strcmp(verb, "lvimage") == 0) return ReplyListItem(control, atoi(a), LVIF_IMAGE), true;
    if (strcmp(verb, "lvstate") == 0) return ReplyListItem(control, atoi(a), LVIF_STATE), true;
    if (strcmp(verb, "lvrect") == 0) return ReplyListRect(control, atoi(a)), true;
    return Reply("ERR unknown command"), true;
}

}  // namespace

int main() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    Reply("READY");
    char line[8192];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!Run(line)) break;
    }
    return 0;
}
