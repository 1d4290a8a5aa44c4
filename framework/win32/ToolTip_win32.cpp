#include "framework/win32/ToolTip_win32.h"

#include "framework/win32/App_win32.h"

namespace fw {

bool ToolTip::Create(HWND owner) {
    hwnd_ =
        ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, App::InstanceHandle(), nullptr);
    return hwnd_ != nullptr;
}

bool ToolTip::AddTool(HWND control, const char* text) {
    TOOLINFOA info = {};
    // The short record: every version of the common controls accepts it.
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.uFlags = TTF_IDISHWND;
    info.hwnd = ::GetParent(control);
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.hinst = App::InstanceHandle();
    info.lpszText = const_cast<char*>(text);
    return Send(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)) != FALSE;
}

}  // namespace fw
