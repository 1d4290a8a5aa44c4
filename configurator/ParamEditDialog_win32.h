// The in-place editor of a value cell: a borderless one-field dialog laid over the cell.
#pragma once

#include <cstdint>
#include <string>

#include "framework/win32/Dialog_win32.h"

namespace configurator {

class ParamEditDialog : public fw::Dialog {
  public:
    ParamEditDialog();

    std::string EditText;  // shown when it opens; the entered text after OK
    int32_t EditLeft = 0;  // screen position and size of the editor
    int32_t EditTop = 0;
    int32_t EditWidth = 0;
    int32_t EditHeight = 0;  // one text line; the editor is one pixel taller

    // A press at (x, y), client coordinates of the editor, that closes it as Cancel.
    static bool PressIsOutside(int x, int y, int width, int height) {
        return x < 0 || y < 0 || x > width || y > height;
    }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDestroy() override;

  private:
    fw::Window ValueEdit;
};

}  // namespace configurator
