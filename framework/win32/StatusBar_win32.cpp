#include "framework/win32/StatusBar_win32.h"

#include "framework/win32/App_win32.h"

namespace fw {

bool StatusBar::Create(HWND parent, int id) {
    hwnd_ =
        ::CreateWindowExA(0, STATUSCLASSNAMEA, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), App::InstanceHandle(), nullptr);
    return hwnd_ != nullptr;
}

}  // namespace fw
