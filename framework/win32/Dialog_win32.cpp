#include "framework/win32/Dialog_win32.h"

#include "framework/win32/App_win32.h"

namespace fw {

Dialog::~Dialog() {
    if (hwnd_) {
        Unregister();
        ::SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
        ::DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

int Dialog::DoModal(HWND owner) {
    if (!owner) {
        Window* main = MainWindow();
        if (main && main != this && main->Handle()) owner = main->Handle();
    }
    ended_ = false;
    result_ = -1;
    HWND hwnd = ::CreateDialogParamA(App::InstanceHandle(), MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    if (!hwnd) return -1;

    bool ownerDisabled = false;
    if (owner && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        ownerDisabled = true;
    }
    if (!ended_ && !::IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNORMAL);

    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (!ended_) {
        BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = msg.wParam;
            break;
        }
        if (got < 0) break;
        if (PreTranslate(msg)) continue;
        if (hwnd_ && ::IsDialogMessageA(hwnd_, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    // Enable the owner before the dialog goes, so that activation returns to it and not to
    // some other program's window.
    if (ownerDisabled) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    if (hwnd_) ::DestroyWindow(hwnd_);
    // A WM_QUIT taken by this loop belongs to the loop outside it.
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return result_;
}

void Dialog::End(int result) {
    result_ = result;
    ended_ = true;
}

bool Dialog::PreTranslateMessage(MSG& msg) {
    if (!hwnd_) return false;
    bool input = (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
                 (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST);
    if (!input) return false;
    if (msg.hwnd != hwnd_ && !::IsChild(hwnd_, msg.hwnd)) return false;
    return ::IsDialogMessageA(hwnd_, &msg) != FALSE;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
        self->Register();
    } else {
        self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    // Messages before WM_INITDIALOG (WM_SETFONT among them) go to the default processing.
    if (!self) return FALSE;
    INT_PTR answer = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        self->Unregister();
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
        // A dialog destroyed from outside must not leave its modal loop waiting.
        self->ended_ = true;
    }
    return answer;
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!Dispatch(message, wParam, lParam, result)) return FALSE;
    switch (message) {
        // These answer through the dialog procedure's return value itself.
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
            return static_cast<INT_PTR>(result);
        default:
            ::SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, result);
            return TRUE;
    }
}

bool Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (OnMessage(message, wParam, lParam, result)) return true;
    switch (message) {
        case WM_INITDIALOG:
            result = OnInitDialog() ? TRUE : FALSE;
            return true;
        case WM_COMMAND: {
            int id = LOWORD(wParam);
            int code = HIWORD(wParam);
            if (OnCommand(id, code, reinterpret_cast<HWND>(lParam))) return true;
            if (code != BN_CLICKED) return false;
            if (id == IDOK) {
                OnOK();
                return true;
            }
            if (id == IDCANCEL) {
                OnCancel();
                return true;
            }
            return false;
        }
        case WM_NOTIFY: {
            NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
            return OnNotify(static_cast<int>(header->idFrom), header, result);
        }
        case WM_TIMER:
            return OnTimer(wParam);
        case WM_PAINT:
            return OnPaint();
        case WM_SYSCOMMAND:
            return OnSysCommand(wParam, lParam);
        case WM_DESTROY:
            OnDestroy();
            return true;
        default:
            return false;
    }
}

bool Dialog::PaintMinimisedIcon(HICON icon) {
    if (!IsIconic()) return false;
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd_, &paint);
    Send(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int iconWidth = ::GetSystemMetrics(SM_CXICON);
    int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client = ClientRect();
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, icon);
    ::EndPaint(hwnd_, &paint);
    return true;
}

void Dialog::AppendAboutItem(int stringId, UINT command) {
    HMENU systemMenu = ::GetSystemMenu(hwnd_, FALSE);
    char about[256] = "";
    if (systemMenu && ::LoadStringA(App::InstanceHandle(), stringId, about, sizeof about) > 0) {
        ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(systemMenu, MF_STRING, command, about);
    }
}

void DdxComboIndex(HWND dialog, int controlId, int& index, bool save) {
    HWND combo = ::GetDlgItem(dialog, controlId);
    if (save) {
        index = static_cast<int>(::SendMessageA(combo, CB_GETCURSEL, 0, 0));
    } else {
        ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

}  // namespace fw
