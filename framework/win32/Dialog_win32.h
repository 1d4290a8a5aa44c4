// A dialog from a resource template, run with our own modal loop so that the pre-translation of
// every window (the main window's above all) sees the messages while a child dialog is open.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "framework/win32/Window_win32.h"

namespace fw {

class Dialog : public Window {
  public:
    explicit Dialog(int templateId) : templateId_(templateId) {}
    ~Dialog() override;

    // Creates the dialog modeless with `owner` (the main window when null, unless this is the
    // main window itself), disables the owner and runs the loop until End. Returns the value
    // given to End, or -1 when the dialog could not be created.
    int DoModal(HWND owner = nullptr);
    // Ends the modal loop with `result`; the window is destroyed when the loop has stopped.
    void End(int result);
    bool Ended() const { return ended_; }

    // Data exchange between members and controls: save = from the controls.
    bool UpdateData(bool save) {
        DoDataExchange(save);
        return true;
    }

    // Keyboard and mouse messages for the dialog or its controls go to the dialog manager.
    bool PreTranslateMessage(MSG& msg) override;

  protected:
    // The handlers return true when they handled the message; false leaves it to the default.
    virtual bool OnInitDialog() {
        UpdateData(false);
        return true;
    }
    virtual bool OnCommand(int id, int code, HWND control) { return false; }
    virtual bool OnNotify(int id, NMHDR* header, LRESULT& result) { return false; }
    virtual bool OnTimer(UINT_PTR id) { return false; }
    virtual void OnOK() {
        if (UpdateData(true)) End(IDOK);
    }
    virtual void OnCancel() { End(IDCANCEL); }
    virtual void OnDestroy() {}
    virtual bool OnPaint() { return false; }
    virtual bool OnSysCommand(WPARAM command, LPARAM lParam) { return false; }
    // Any other message, before the handlers above; `result` is the message's answer.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) { return false; }
    virtual void DoDataExchange(bool save) {}

    // A minimised main window shows its icon centred; false while the window is not minimised,
    // so that the default painting goes on.
    bool PaintMinimisedIcon(HICON icon);
    // The About item at the foot of the system menu: a separator, then string `stringId`.
    void AppendAboutItem(int stringId, UINT command);
    // Runs the About dialog when the system command is the item added above.
    template <class About>
    bool RunAboutCommand(WPARAM command, UINT aboutCommand) {
        if ((command & 0xFFF0) != aboutCommand) return false;
        About about;
        about.DoModal(hwnd_);
        return true;
    }

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    int templateId_;
    bool ended_ = false;
    int result_ = -1;
};

// Data exchange of a combo box's selected position (CB_GETCURSEL / CB_SETCURSEL).
void DdxComboIndex(HWND dialog, int controlId, int& index, bool save);

}  // namespace fw
