#include <windows.h>

#include "framework/Mutex.h"

namespace fw {

struct Mutex::Impl {
    CRITICAL_SECTION section;
};

Mutex::Mutex() : impl_(new Impl) {
    ::InitializeCriticalSection(&impl_->section);
}

Mutex::~Mutex() {
    ::DeleteCriticalSection(&impl_->section);
    delete impl_;
}

void Mutex::Lock() {
    ::EnterCriticalSection(&impl_->section);
}

void Mutex::Unlock() {
    ::LeaveCriticalSection(&impl_->section);
}

}  // namespace fw
