// A tooltip control owned by a window, its tools being controls of that window. Mouse messages
// reach it through RelayEvent from the owner's pre-translation.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "framework/win32/Window_win32.h"

namespace fw {

class ToolTip : public Window {
  public:
    // The control goes with its owner; destroy it here only when it outlives the owner.
    ~ToolTip() override {
        if (hwnd_ && ::IsWindow(hwnd_)) Destroy();
    }

    // False when the platform refuses the control.
    bool Create(HWND owner);
    bool AddTool(HWND control, const char* text);
    void Activate(bool active) const { Send(TTM_ACTIVATE, active ? TRUE : FALSE, 0); }
    void RelayEvent(MSG* msg) const { Send(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg)); }
};

}  // namespace fw
