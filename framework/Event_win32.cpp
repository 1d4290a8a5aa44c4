// The event on Windows: a kernel event object without a name.
#include <windows.h>

#include "framework/Event.h"

namespace fw {

struct Event::Impl {
    HANDLE handle;
};

Event::~Event() {
    Close();
}

bool Event::Create(bool manualReset, bool initiallySignalled) {
    Close();
    HANDLE h = CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE, nullptr);
    if (h == nullptr) return false;
    impl_ = new Impl{h};
    return true;
}

void Event::Set() {
    if (impl_ != nullptr) SetEvent(impl_->handle);
}

void Event::Reset() {
    if (impl_ != nullptr) ResetEvent(impl_->handle);
}

bool Event::Wait(uint32_t timeoutMs) {
    if (impl_ == nullptr) return false;
    return WaitForSingleObject(impl_->handle, timeoutMs) == WAIT_OBJECT_0;
}

void Event::Close() {
    if (impl_ == nullptr) return;
    CloseHandle(impl_->handle);
    delete impl_;
    impl_ = nullptr;
}

}  // namespace fw
