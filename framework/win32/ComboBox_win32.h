// A combo box: its list and selected position.
#pragma once

#include <windows.h>

#include "framework/win32/Window_win32.h"

namespace fw {

class ComboBox : public Window {
  public:
    int AddString(const char* text) const {
        return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    void ResetContent() const { Send(CB_RESETCONTENT); }
    int Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }
    int CurSel() const { return static_cast<int>(Send(CB_GETCURSEL)); }
    int SetCurSel(int index) const {
        return static_cast<int>(Send(CB_SETCURSEL, static_cast<WPARAM>(index)));
    }
};

}  // namespace fw
