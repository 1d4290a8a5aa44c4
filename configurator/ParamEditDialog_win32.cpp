#include "configurator/ParamEditDialog_win32.h"

#include <windowsx.h>

#include "configurator/resource.h"

namespace configurator {

ParamEditDialog::ParamEditDialog() : fw::Dialog(IDD_PARAM_EDIT) {}

bool ParamEditDialog::OnInitDialog() {
    fw::Dialog::OnInitDialog();
    ValueEdit.Attach(Item(IDC_VALUE_EDIT));
    // No length limit on what the user types: checks belong to the write exchange.
    ValueEdit.Send(EM_LIMITTEXT, 0, 0);
    ::SetWindowPos(hwnd_, HWND_TOP, EditLeft, EditTop, EditWidth, EditHeight + 1, SWP_SHOWWINDOW);
    ValueEdit.Move(0, 0, EditWidth, EditHeight + 1);
    ValueEdit.SetText(EditText.c_str());
    // Holding the capture lets a press anywhere outside close the editor.
    ::SetCapture(hwnd_);
    return true;
}

void ParamEditDialog::OnOK() {
    EditText = ValueEdit.Text();
    End(IDOK);
}

bool ParamEditDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message != WM_LBUTTONDOWN && message != WM_RBUTTONDOWN) return false;
    if (!PressIsOutside(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), EditWidth, EditHeight)) return false;
    OnCancel();
    return true;
}

void ParamEditDialog::OnDestroy() {
    if (::GetCapture() == hwnd_) ::ReleaseCapture();
}

}  // namespace configurator
