#include "framework/win32/Window_win32.h"

#include <vector>

#include "framework/win32/App_win32.h"

namespace fw {

namespace {
// A window property rather than GWLP_USERDATA: dialogs and controls that are not ours may use
// their user data for anything.
const char kObjectProperty[] = "krt.fw.Window";
}  // namespace

std::string Window::Text() const {
    int length = ::GetWindowTextLengthA(hwnd_);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    int got = ::GetWindowTextA(hwnd_, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

bool Window::Destroy() {
    if (!hwnd_) return false;
    return ::DestroyWindow(hwnd_) != FALSE;
}

Window* Window::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    return static_cast<Window*>(::GetPropA(hwnd, kObjectProperty));
}

void Window::Register() {
    if (hwnd_) ::SetPropA(hwnd_, kObjectProperty, this);
}

void Window::Unregister() {
    if (hwnd_) ::RemovePropA(hwnd_, kObjectProperty);
}

bool PreTranslate(MSG& msg) {
    Window* main = MainWindow();
    HWND mainHwnd = main ? main->Handle() : nullptr;
    // GetParent gives the owner of a popup, so a child dialog's walk ends at its owner.
    for (HWND h = msg.hwnd; h; h = ::GetParent(h)) {
        Window* w = Window::FromHandle(h);
        if (w && w->PreTranslateMessage(msg)) return true;
        if (h == mainHwnd) return false;
    }
    if (main && mainHwnd) return main->PreTranslateMessage(msg);
    return false;
}

}  // namespace fw
