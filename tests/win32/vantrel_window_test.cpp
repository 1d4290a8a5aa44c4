// The Vantrel window in-process under Wine: a script of steps run from a thread timer while the
// window's own modal loop (and the loops of its child dialogs) runs. Each step may wait for a
// condition; the whole script has a generous time limit. Prints "N passed, N failed".
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "configurator/ConfiguratorDialog_win32.h"
#include "configurator/ParameterTable.h"
#include "configurator/resource.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"
#include "serial/SerialApi_win32.h"

using configurator::ConfiguratorDialog;

namespace {

int passed = 0, failed = 0;

// What the application owns in the program: the driver and the selection; and the main window
// while it runs.
serial::ComDriver* g_driver = nullptr;
portselect::Selection g_selection;
ConfiguratorDialog* MainDialog = nullptr;

void Check(bool ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s\n", what);
        std::fflush(stdout);
    }
}

std::string StatusText(int part) {
    char text[512] = "";
    ::SendMessageA(::GetDlgItem(MainDialog->Handle(), IDC_STATUS_BAR), SB_GETTEXTA, part,
                   reinterpret_cast<LPARAM>(text));
    return text;
}

HWND List() {
    return ::GetDlgItem(MainDialog->Handle(), IDC_PARAM_LIST);
}

int ItemImage(int item) {
    LVITEMA it = {};
    it.mask = LVIF_IMAGE | LVIF_PARAM;
    it.iItem = item;
    ::SendMessageA(List(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    return it.iImage;
}

LPARAM ItemData(int item) {
    LVITEMA it = {};
    it.mask = LVIF_PARAM;
    it.iItem = item;
    ::SendMessageA(List(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    return it.lParam;
}

std::string Cell(int row, int column) {
    return MainDialog->Table().Text(row, column);
}

void Select(int row, bool on) {
    LVITEMA it = {};
    it.stateMask = LVIS_SELECTED;
    it.state = on ? LVIS_SELECTED : 0;
    ::SendMessageA(List(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&it));
}

// A double-click notification as the list sends it; posted so that the editor's modal loop
// does not run inside this script's step.
NMHDR doubleClick;
void PostDoubleClick() {
    doubleClick.hwndFrom = List();
    doubleClick.idFrom = IDC_PARAM_LIST;
    doubleClick.code = NM_DBLCLK;
    ::PostMessageA(MainDialog->Handle(), WM_NOTIFY, IDC_PARAM_LIST, reinterpret_cast<LPARAM>(&doubleClick));
}

// A visible top-level dialog of this thread other than the main window.
BOOL CALLBACK FindChildDialog(HWND hwnd, LPARAM out) {
    char cls[32] = "";
    ::GetClassNameA(hwnd, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0 && hwnd != MainDialog->Handle() && ::IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND ChildDialog() {
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindChildDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct ToolTipSearch {
    HWND owner, found;
};

BOOL CALLBACK FindToolTip(HWND hwnd, LPARAM p) {
    auto* s = reinterpret_cast<ToolTipSearch*>(p);
    char cls[32] = "";
    ::GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpiA(cls, TOOLTIPS_CLASSA) == 0 && ::GetWindow(hwnd, GW_OWNER) == s->owner) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND ToolTipOf(HWND owner) {
    ToolTipSearch s = {owner, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), FindToolTip, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

void SetKeyDown(int vk, bool down) {
    BYTE keys[256];
    ::GetKeyboardState(keys);
    keys[vk] = down ? 0x80 : 0;
    ::SetKeyboardState(keys);
}

// The script: each step returns true when it is done; false to be called again next tick.
struct Step {
    const char* name;
    std::function<bool()> run;
};
std::vector<Step> script;
size_t current = 0;
int ticksInStep = 0;
bool running = false;
constexpr int kStepTickLimit = 250;  // 50 ms ticks: 12.5 s for any one step

// Waits until `cond` holds, then runs `then`; a step that never sees it fails by the limit.
Step WaitFor(const char* name, std::function<bool()> cond, std::function<void()> then = {}) {
    return {name, [cond, then] {
                if (!cond()) return false;
                if (then) then();
                return true;
            }};
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (running || current >= script.size()) return;
    running = true;
    if (++ticksInStep > kStepTickLimit) {
        Check(false, script[current].name);
        std::printf("  (step timed out)\n");
        current = script.size();
        if (MainDialog) ::PostMessageA(MainDialog->Handle(), WM_CLOSE, 0, 0);
    } else if (script[current].run()) {
        ++current;
        ticksInStep = 0;
    }
    running = false;
}

class TestApp : public fw::App {
  public:
    bool quitSeen = false;

  protected:
    bool InitInstance() override {
        auto dialog = std::make_unique<ConfiguratorDialog>(*g_driver, g_selection);
        MainDialog = dialog.get();
        SetMainWindow(dialog.get());
        dialog->DoModal(nullptr);
        SetMainWindow(nullptr);
        MainDialog = nullptr;
        MSG msg;
        // The quit taken by the About box's loop must reach the loop outside the main window.
        quitSeen = ::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE && msg.wParam == 7;
        return false;
    }
};

void BuildScript() {
    auto add = [](const char* name, std::function<bool()> run) { script.push_back({name, std::move(run)}); };
    auto once = [](const char* name, std::function<void()> run) {
        script.push_back({name, [run] {
                              run();
                              return true;
                          }});
    };

    script.push_back(
        WaitFor("main window up", [] { return MainDialog && ::IsWindowVisible(MainDialog->Handle()); }));

    once("start-up without settings", [] {
        HWND w = MainDialog->Handle();
        Check(StatusText(1) == "Порт не выбран", "status part 1 reads the no-port text");
        Check(!::IsWindowEnabled(::GetDlgItem(w, IDC_READ_BUTTON)), "read button disabled at start");
        Check(::IsWindowEnabled(::GetDlgItem(w, IDC_PORT_BUTTON)) != FALSE,
              "port button enabled without a port");
        Check(::IsWindowEnabled(::GetDlgItem(w, IDOK)) != FALSE, "exit button enabled");
        Check(::GetFocus() == ::GetDlgItem(w, IDOK), "focus on the first tab stop, the exit button");
        RECT client;
        ::GetClientRect(w, &client);
        int edges[2] = {};
        int parts = static_cast<int>(
            ::SendMessageA(::GetDlgItem(w, IDC_STATUS_BAR), SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges)));
        Check(parts == 2 && edges[0] == 2 * client.right / 3 && edges[1] == client.right,
              "status bar parts end at 2W/3 and W");
        Check(g_selection.SelectedPortIndex == -1 && g_selection.SelectedSpeedIndex == -1 &&
                  MainDialog->Link().state.ParamIndex == -1,
              "no port, no speed, no read");

        HMENU menu = ::GetSystemMenu(w, FALSE);
        char item[64] = "";
        ::GetMenuStringA(menu, IDM_ABOUTBOX, item, sizeof item, MF_BYCOMMAND);
        Check(std::strcmp(item, "&About Vantrel...") == 0, "system menu carries the About item");
        Check(::SendMessageA(w, WM_GETICON, ICON_SMALL, 0) != 0, "small icon set");
        Check(::SendMessageA(w, WM_QUERYDRAGICON, 0, 0) != 0, "drag icon answered");
        HWND tip = ToolTipOf(w);
        Check(tip && ::SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0) == 3, "three tooltips registered");
    });

    once("table built", [] {
        HWND list = List();
        Check(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == configurator::PARAM_ROW_COUNT, "104 rows");
        bool texts = true, marks = true, data = true;
        for (int r = 0; r < configurator::PARAM_ROW_COUNT; ++r) {
            for (int c = 0; c < configurator::PARAM_COLUMN_COUNT; ++c)
                texts = texts && Cell(r, c) == configurator::StartCellText(r, c);
            marks = marks && ItemImage(r) == adapter::MARK_BLANK;
            data = data && ItemData(r) == r;
        }
        Check(texts, "every cell holds its start text, rows in row order");
        Check(marks && data, "every row Blank with its row number as item data");
        Check(Cell(5, 2) == "00" && Cell(6, 2) == "0000000000", "row 5 starts with 00");
        bool widths = true;
        for (int c = 0; c < configurator::PARAM_COLUMN_COUNT; ++c)
            widths = widths &&
                     ::SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0) == configurator::ParamColumn(c).width;
        Check(widths, "column widths");
        HIMAGELIST marksList =
            reinterpret_cast<HIMAGELIST>(::SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        Check(marksList && ImageList_GetImageCount(marksList) == 6, "six 12-pixel row marks from the strip");
    });

    once("table cells through the link's interface", [] {
        auto& table = MainDialog->Table();
        std::string longValue(5000, '7');
        table.SetText(10, adapter::COL_VALUE, longValue.c_str());
        char small[16];
        int length = table.GetText(10, adapter::COL_VALUE, small, sizeof small);
        Check(length == 5000 && std::strlen(small) == 15 && small[0] == '7',
              "long text: full length, cut copy");
        Check(table.GetText(104, 0, small, sizeof small) == 0 && small[0] == '\0', "row outside gives empty");
        table.SetText(-1, 0, "x");  // must not touch any row
        table.SetMark(12, adapter::MARK_ERROR);
        Check(ItemImage(12) == adapter::MARK_ERROR && ItemData(12) == 12 && Cell(12, 0) == "  052",
              "a mark keeps the text and the row number");
        table.SetMark(12, adapter::MARK_BLANK);
        table.SetText(10, adapter::COL_VALUE, "0000000000");
    });

    once("link messages reach the link",
         [] { ::PostMessageA(MainDialog->Handle(), adapter::CM_SEARCH_FAILED, 0, 0); });
    script.push_back(WaitFor(
        "search failed handled", [] { return g_selection.SelectedSpeedIndex == 4; },
        [] {
            HWND w = MainDialog->Handle();
            Check(MainDialog->Link().state.LineSpeed == 4800, "port reopened at 4800");
            Check(!::IsWindowEnabled(::GetDlgItem(w, IDC_READ_BUTTON)) &&
                      ::IsWindowEnabled(::GetDlgItem(w, IDC_PORT_BUTTON)),
                  "after a failed search only the port button is enabled");
        }));

    once("timer drives the link", [] {
        MainDialog->SetStatusText(0, "busy");
        MainDialog->Link().state.TimeoutState = adapter::DoneNotice;
        MainDialog->Link().state.TimeoutTicks = 3;
    });
    script.push_back(WaitFor("done notice cleared by the ticks", [] { return StatusText(0) == " "; }));

    once("escape and enter are swallowed when down", [] {
        HWND w = MainDialog->Handle();
        SetKeyDown(VK_ESCAPE, true);
        ::PostMessageA(List(), WM_KEYDOWN, VK_ESCAPE, 0);
        SetKeyDown(VK_RETURN, true);
        ::PostMessageA(::GetDlgItem(w, IDOK), WM_KEYDOWN, VK_RETURN, 0);
    });
    add("window survives escape and enter", [] {
        static int waited = 0;
        if (++waited < 10) return false;  // half a second for the posted keys to go through
        Check(MainDialog && !MainDialog->Ended() && ::IsWindowVisible(MainDialog->Handle()),
              "escape and enter do not close the window");
        SetKeyDown(VK_ESCAPE, false);
        SetKeyDown(VK_RETURN, false);
        return true;
    });

    once("F5 starts a read", [] {
        SetKeyDown(VK_F5, true);
        ::PostMessageA(List(), WM_KEYDOWN, VK_F5, 0);
    });
    script.push_back(WaitFor(
        "read started", [] { return MainDialog->Link().state.ParamIndex == 0; },
        [] {
            SetKeyDown(VK_F5, false);
            Check(StatusText(0) == "Получение параметров ...", "read text in part 0");
        }));

    once("double-click with nothing selected", [] {
        for (int r = 0; r < configurator::PARAM_ROW_COUNT; ++r) Select(r, false);
        PostDoubleClick();
    });
    add("no editor without a selection", [] {
        static int waited = 0;
        if (++waited < 6) return false;
        Check(ChildDialog() == nullptr, "double-click with no row selected opens nothing");
        return true;
    });

    static HWND editor = nullptr;
    once("double-click with rows 9 and 4 selected", [] {
        Select(9, true);
        Select(4, true);
        PostDoubleClick();
    });
    script.push_back(WaitFor(
        "editor open", [] { return (editor = ChildDialog()) != nullptr; },
        [] {
            HWND list = List();
            RECT lr, er;
            ::GetWindowRect(list, &lr);
            ::GetWindowRect(editor, &er);
            POINT pos = {};
            ::SendMessageA(list, LVM_GETITEMPOSITION, 4, reinterpret_cast<LPARAM>(&pos));
            int w0 = static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0));
            int w1 = static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0));
            int w2 = static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0));
            TEXTMETRICA tm = {};
            HDC dc = ::GetDC(list);
            ::GetTextMetricsA(dc, &tm);
            ::ReleaseDC(list, dc);
            Check(er.left == lr.left + w0 + w1 + 2 && er.top == lr.top + pos.y,
                  "editor over column 2 of row 4");
            Check(er.right - er.left == w2 && er.bottom - er.top == tm.tmHeight + 1, "editor size");
            char text[64] = "";
            ::GetDlgItemTextA(editor, IDC_VALUE_EDIT, text, sizeof text);
            Check(std::strcmp(text, "0000000000") == 0, "editor shows the row's value");
            Check(::GetCapture() == editor, "editor holds the mouse");
            Check(!::IsWindowEnabled(MainDialog->Handle()), "main window disabled under the editor");
            ::PostMessageA(MainDialog->Handle(), adapter::CM_NO_ANSWER, 0, 0);
        }));
    script.push_back(WaitFor(
        "link message handled under the editor", [] { return StatusText(1) == "Нет связи..."; },
        [] { ::PostMessageA(editor, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 3)); }));
    add("press inside keeps the editor", [] {
        static int waited = 0;
        if (++waited < 6) return false;
        Check(::IsWindow(editor) && ChildDialog() == editor, "a press inside leaves the editor open");
        ::PostMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(-3), 4));
        return true;
    });
    script.push_back(WaitFor(
        "press outside cancels", [] { return !::IsWindow(editor); },
        [] {
            Check(Cell(4, 2) == "0000000000" && ItemImage(4) == adapter::MARK_BLANK,
                  "cancel keeps text and mark");
            Check(::IsWindowEnabled(MainDialog->Handle()) != FALSE, "main window enabled again");
            PostDoubleClick();
        }));
    script.push_back(WaitFor(
        "editor open again", [] { return (editor = ChildDialog()) != nullptr; },
        [] {
            // Escape held down: the editor's own dialog handling comes before the main window's filter.
            SetKeyDown(VK_ESCAPE, true);
            ::PostMessageA(::GetDlgItem(editor, IDC_VALUE_EDIT), WM_KEYDOWN, VK_ESCAPE, 0);
        }));
    script.push_back(WaitFor(
        "escape cancels the editor", [] { return !::IsWindow(editor); },
        [] {
            SetKeyDown(VK_ESCAPE, false);
            Check(Cell(4, 2) == "0000000000" && ItemImage(4) == adapter::MARK_BLANK,
                  "escape keeps text and mark");
            PostDoubleClick();
        }));
    script.push_back(WaitFor(
        "editor open a third time", [] { return (editor = ChildDialog()) != nullptr; },
        [] {
            ::SetDlgItemTextA(editor, IDC_VALUE_EDIT, "15");
            ::PostMessageA(editor, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }));
    script.push_back(WaitFor(
        "OK accepts", [] { return !::IsWindow(editor); },
        [] {
            Check(Cell(4, 2) == "15", "accepted text in the row");
            Check(ItemImage(4) == adapter::MARK_PENDING, "accepted row marked Pending");
        }));

    static HWND about = nullptr;
    once("About from the system menu",
         [] { ::PostMessageA(MainDialog->Handle(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0); });
    script.push_back(WaitFor(
        "About open", [] { return (about = ChildDialog()) != nullptr; },
        [] {
            char caption[64] = "";
            ::GetWindowTextA(about, caption, sizeof caption);
            Check(std::strcmp(caption, "About Vantrel") == 0, "About box caption");
            Check(::GetWindow(about, GW_OWNER) == MainDialog->Handle() &&
                      !::IsWindowEnabled(MainDialog->Handle()),
                  "About box owned by the disabled main window");
            // A quit arriving in a child loop ends every loop in turn.
            ::PostQuitMessage(7);
        }));
}

// Second run: a settings file that names COM4 (position 2 of 1, 3, 4) starts the search at once.
void BuildSearchScript() {
    script.clear();
    current = 0;
    ticksInStep = 0;
    script.push_back(WaitFor(
        "main window up again", [] { return MainDialog && ::IsWindowVisible(MainDialog->Handle()); },
        [] {
            HWND w = MainDialog->Handle();
            auto& link = MainDialog->Link();
            Check(g_selection.SelectedPortIndex == 2 && link.state.PortTable[0] == 1 &&
                      link.state.PortTable[1] == 3 && link.state.PortTable[2] == 4 &&
                      link.state.PortTable[3] == 0,
                  "settings file read before the start decision");
            Check(StatusText(1).rfind("Поиск на скорости ", 0) == 0, "the search runs at once");
            Check(link.state.TimeoutState >= adapter::Search1200 &&
                      link.state.TimeoutState <= adapter::Search115200,
                  "a search state is counting down");
            Check(!::IsWindowEnabled(::GetDlgItem(w, IDC_READ_BUTTON)) &&
                      !::IsWindowEnabled(::GetDlgItem(w, IDC_PORT_BUTTON)),
                  "both buttons disabled during the search");
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        }));
}

bool WriteFileBytes(const char* path, const void* data, size_t size) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

bool ReadFileBytes(const char* path, std::vector<unsigned char>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    unsigned char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

}  // namespace

int main() {
    // A fresh working directory: no settings file from an earlier run.
    char dir[MAX_PATH];
    ::GetTempPathA(sizeof dir, dir);
    std::snprintf(dir + std::strlen(dir), sizeof dir - std::strlen(dir), "vantrel_shell_%lu",
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    ::CreateDirectoryA(dir, nullptr);
    ::SetCurrentDirectoryA(dir);
    ::DeleteFileA("Vantrel.i");

    serial::Win32SerialApi api;
    serial::ComDriver driver(serial::ComVariant::Configurator, api);
    g_driver = &driver;

    BuildScript();
    ::SetTimer(nullptr, 0, 50, Tick);
    TestApp app;
    app.Run();

    Check(current == script.size(), "every step ran");
    Check(app.quitSeen, "the quit reached the loop outside the main window");
    std::vector<unsigned char> bytes;
    Check(ReadFileBytes("Vantrel.i", bytes) && bytes.size() == 264,
          "settings written at shutdown, 264 bytes");
    if (bytes.size() == 264) {
        int32_t values[66];
        std::memcpy(values, bytes.data(), sizeof values);
        bool zeros = true;
        for (int i = 2; i < 66; ++i) zeros = zeros && values[i] == 0;
        Check(values[0] == -1 && values[1] == 4800 && zeros, "settings hold -1, 4800 and an empty table");
    }

    int32_t stored[66] = {2, 4800, 1, 3, 4};
    Check(WriteFileBytes("Vantrel.i", stored, sizeof stored), "settings file for the second run");
    BuildSearchScript();
    g_selection.SelectedPortIndex = -1;
    {
        serial::ComDriver driver2(serial::ComVariant::Configurator, api);
        g_driver = &driver2;
        TestApp second;
        second.Run();
        g_driver = &driver;
    }
    Check(current == script.size(), "every step of the second run ran");
    bytes.clear();
    Check(ReadFileBytes("Vantrel.i", bytes) && bytes.size() == 264,
          "settings rewritten after the second run");
    if (bytes.size() == 264) {
        int32_t values[66];
        std::memcpy(values, bytes.data(), sizeof values);
        bool speedKnown = false;
        for (int32_t speed : portselect::SpeedTable) speedKnown = speedKnown || values[1] == speed;
        Check(values[0] == 2 && values[2] == 1 && values[3] == 3 && values[4] == 4 && values[5] == 0 &&
                  speedKnown,
              "second run keeps the port, the table and a search speed");
    }

    ::DeleteFileA("Vantrel.i");
    ::SetCurrentDirectoryA("..");
    ::RemoveDirectoryA(dir);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
