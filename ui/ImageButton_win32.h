// A flat, caption-less icon push button: a grey copy of its icon at rest, the icon in colour
// inside a thin raised frame under the mouse, sunken and shifted by one pixel while pressed.
//
// It takes over an existing button control of a dialog template:
//
//     ImageButton read;                       // a member of the dialog object
//     read.SubclassDlgItem(dialog, 1009);     // in OnInitDialog
//     read.SetImage(150);
//
// The platform sends WM_DRAWITEM of an owner-draw button to its parent, so the dialog must hand
// it on; with the framework's dialog:
//
//     bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
//         if (message == WM_DRAWITEM && ImageButton::HandleDrawItem(lParam)) {
//             result = TRUE;
//             return true;
//         }
//         ...
//     }
#pragma once

#include <windows.h>

#include "framework/win32/Window_win32.h"

namespace ui {

class ImageButton : public fw::Window {
  public:
    ImageButton();
    // Frees both icons and gives the control its own window procedure back.
    ~ImageButton() override;

    // Makes the dialog's control `id` (or the given button) owner-drawn and routes its
    // messages through this object. False when there is no such control or it is taken.
    bool SubclassDlgItem(HWND dialog, int id);
    bool Subclass(HWND button);

    // Loads icon resource `id` of the program and builds its grey copy; 0 only releases the
    // current icons. False when the icon cannot be loaded or its grey copy cannot be built.
    bool SetImage(int id);

    // Draws the button whose WM_DRAWITEM record `lParam` points to, if it is an ImageButton.
    // True: it was one and has been drawn.
    static bool HandleDrawItem(LPARAM lParam);

    virtual void DrawItem(const DRAWITEMSTRUCT& item);

    // Makes every button use the mouse-capture fallback, as on a system without
    // TrackMouseEvent; for test hosts, which have no such system at hand.
    static void DisableMouseTracking();

    HICON HotImage = nullptr;   // the icon as loaded; drawn under the mouse
    HICON IdleImage = nullptr;  // its grey copy; drawn while the mouse is elsewhere
    UINT ImageKind = 0;         // DrawState type of the images: DST_ICON once an icon is set
    LONG ImageHeight = 0;
    LONG ImageWidth = 0;
    bool MouseOver = false;

  private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    void OnMouseMove(LPARAM lParam);
    void Unsubclass();
    void Redraw();

    WNDPROC baseProc_ = nullptr;
};

// The grey copy of a colour bitmap whose format `header` describes (as GetDIBits reports it),
// made on `dc`. Returns a new bitmap, or `bitmap` itself when its depth has no grey maths or
// its pixels cannot be read, or null when the new bitmap cannot be made.
HBITMAP MakeGrayBitmap(HDC dc, HBITMAP bitmap, const BITMAPINFOHEADER& header);

}  // namespace ui
