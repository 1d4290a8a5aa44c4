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
        Check(::GetFocus() == ::GetDlgItem(w, IDOK), "focus on the first tab stop, the exit button");
        RECT client;
        ::GetClientRect(w, &client);
        int edges[2] = {};
        ::SendMessageA(::GetDlgItem(w, IDC_STATUS_BAR), SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges));
        Check(edges[0] == 2 * client.right / 3 && edges[1] == client.right,
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
    script.push_back(WaitFor("search failed handled", [] { return g_selection.SelectedSpeedIndex == 4; }));

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
            Check(::GetCapture() == editor, "editor holds the mouse");
            Check(!::IsWindowEnabled(MainDialog->Handle()), "main window disabled under the editor");
            ::PostMessageA(editor, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 3));
        }));
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

    ::DeleteFileA("Vantrel.i");
    ::SetCurrentDirectoryA("..");
    ::RemoveDirectoryA(dir);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
