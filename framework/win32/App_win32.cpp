#include "framework/win32/App_win32.h"

#include <commctrl.h>

#include "framework/win32/Dialog_win32.h"
#include "framework/win32/Window_win32.h"

namespace fw {

App* App::current_ = nullptr;

App::App() {
    current_ = this;
}

App::~App() {
    if (current_ == this) current_ = nullptr;
}

int App::Run() {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    if (!InitInstance()) return ExitInstance();
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (PreTranslate(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    ExitInstance();
    return static_cast<int>(msg.wParam);
}

void App::RunMainDialog(Dialog& dialog) {
    SetMainWindow(&dialog);
    dialog.DoModal(nullptr);
    SetMainWindow(nullptr);
}

Window* MainWindow() {
    App* app = App::Current();
    return app ? app->MainWindow() : nullptr;
}

}  // namespace fw
