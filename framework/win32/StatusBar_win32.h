// A status bar control.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "framework/win32/Window_win32.h"

namespace fw {

class StatusBar : public Window {
  public:
    // A visible child along the bottom of `parent`.
    bool Create(HWND parent, int id);
    bool SetParts(int count, const int* rightEdges) const {
        return Send(SB_SETPARTS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(rightEdges)) != FALSE;
    }
    // Type 0: the text replaces the part's text, drawn sunken.
    bool SetText(int part, const char* text) const {
        return Send(SB_SETTEXTA, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text)) != FALSE;
    }
};

}  // namespace fw
