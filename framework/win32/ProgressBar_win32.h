// A progress bar: range and position.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "framework/win32/Window_win32.h"

namespace fw {

class ProgressBar : public Window {
  public:
    void SetRange(int low, int high) const { Send(PBM_SETRANGE32, static_cast<WPARAM>(low), high); }
    int SetPos(int pos) const { return static_cast<int>(Send(PBM_SETPOS, static_cast<WPARAM>(pos))); }
    int Pos() const { return static_cast<int>(Send(PBM_GETPOS)); }
    int SetStep(int step) const { return static_cast<int>(Send(PBM_SETSTEP, static_cast<WPARAM>(step))); }
    int StepIt() const { return static_cast<int>(Send(PBM_STEPIT)); }
};

}  // namespace fw
