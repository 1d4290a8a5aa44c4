// A window handle with the few calls the dialogs make on it. Windows of our own classes are
// found again from their handle, so that the message loop can offer them each message first.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

class Window {
  public:
    Window() = default;
    explicit Window(HWND hwnd) : hwnd_(hwnd) {}
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return hwnd_; }
    operator HWND() const { return hwnd_; }
    void Attach(HWND hwnd) { hwnd_ = hwnd; }
    HWND Detach() {
        HWND h = hwnd_;
        hwnd_ = nullptr;
        return h;
    }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(hwnd_, message, wParam, lParam);
    }
    bool Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageA(hwnd_, message, wParam, lParam) != FALSE;
    }
    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
    bool EnableItem(int id, bool enable) const { return ::EnableWindow(Item(id), enable) != FALSE; }
    bool Enable(bool enable) const { return ::EnableWindow(hwnd_, enable) != FALSE; }
    bool IsEnabled() const { return ::IsWindowEnabled(hwnd_) != FALSE; }
    bool Show(int how) const { return ::ShowWindow(hwnd_, how) != FALSE; }
    bool IsVisible() const { return ::IsWindowVisible(hwnd_) != FALSE; }
    bool IsIconic() const { return ::IsIconic(hwnd_) != FALSE; }
    bool Move(int x, int y, int width, int height, bool repaint = true) const {
        return ::MoveWindow(hwnd_, x, y, width, height, repaint) != FALSE;
    }
    RECT WindowRect() const {
        RECT r = {};
        ::GetWindowRect(hwnd_, &r);
        return r;
    }
    RECT ClientRect() const {
        RECT r = {};
        ::GetClientRect(hwnd_, &r);
        return r;
    }
    bool SetText(const char* text) const { return ::SetWindowTextA(hwnd_, text) != FALSE; }
    std::string Text() const;
    bool Destroy();

    // Offered every message that a message loop of this thread takes from the queue for this
    // window or one of its children, before it is dispatched. True: consumed.
    virtual bool PreTranslateMessage(MSG& msg) { return false; }

    // The object of one of our windows, or null.
    static Window* FromHandle(HWND hwnd);

  protected:
    // Makes the window findable through FromHandle; undone by Unregister or its destruction.
    void Register();
    void Unregister();

    HWND hwnd_ = nullptr;
};

// The pre-translation of a message loop: offers the message to our windows from the message's
// window up through its parents (and owners) to the main window, then, for a message of
// another top-level window or of the thread, to the main window. True: consumed.
bool PreTranslate(MSG& msg);

}  // namespace fw
