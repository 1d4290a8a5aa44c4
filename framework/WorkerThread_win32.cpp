// Worker threads on Windows: a thread with the system's own message queue. The queue is made
// (PeekMessage) before CreateThread returns, so a PostThreadMessage right after it is not lost.
#include <windows.h>
#include <process.h>

// <windows.h> maps the name to PostThreadMessageA, which would rename the member here only.
#undef PostThreadMessage

#include <atomic>

#include "framework/WorkerThread.h"

namespace fw {

struct WorkerThread::Impl {
    HANDLE thread = nullptr;
    unsigned id = 0;
    HANDLE ready = nullptr;
};

struct ThreadRunner {
    static unsigned __stdcall Entry(void* arg) {
        auto* self = static_cast<WorkerThread*>(arg);
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        SetEvent(self->impl_->ready);
        self->Run();
        return 0;
    }
};

namespace {

std::atomic<DebugOutputHook> g_debugHook{nullptr};

}  // namespace

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() {
    if (impl_ == nullptr) return;
    if (impl_->thread != nullptr) CloseHandle(impl_->thread);
    delete impl_;
    impl_ = nullptr;
}

bool WorkerThread::CreateThread(int priority) {
    if (impl_ != nullptr) return false;
    Impl* impl = new Impl;
    impl->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (impl->ready == nullptr) {
        delete impl;
        return false;
    }
    impl_ = impl;
    uintptr_t h = _beginthreadex(nullptr, 0, &ThreadRunner::Entry, this, CREATE_SUSPENDED, &impl->id);
    if (h == 0) {
        impl_ = nullptr;
        CloseHandle(impl->ready);
        delete impl;
        return false;
    }
    impl->thread = reinterpret_cast<HANDLE>(h);
    SetThreadPriority(impl->thread, priority);
    ResumeThread(impl->thread);
    HANDLE both[2] = {impl->ready, impl->thread};
    WaitForMultipleObjects(2, both, FALSE, INFINITE);
    CloseHandle(impl->ready);
    impl->ready = nullptr;
    return true;
}

bool WorkerThread::PostThreadMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (impl_ == nullptr) return false;
    return ::PostThreadMessageA(impl_->id, message, wParam, lParam) != 0;
}

bool WorkerThread::WaitForEnd(uint32_t timeoutMs) {
    if (impl_ == nullptr) return true;
    return WaitForSingleObject(impl_->thread, timeoutMs) == WAIT_OBJECT_0;
}

void WorkerThread::Terminate() {
    if (impl_ == nullptr) return;
    TerminateThread(impl_->thread, 0);
    // TerminateThread only starts the end; the thread is gone once its handle is signalled.
    WaitForSingleObject(impl_->thread, 1000);
}

void WorkerThread::Run() {
    if (InitInstance()) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            const ThreadMessage tm{msg.message, msg.wParam, msg.lParam};
            if (!PreTranslateMessage(tm)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (endRequested_) break;
        }
    }
    ExitInstance();
    if (m_bAutoDelete) delete this;
}

WorkerThread* BeginThread(const RuntimeClass* cls, int priority) {
    if (cls == nullptr || cls->createObject == nullptr) return nullptr;
    WorkerThread* thread = cls->createObject();
    if (thread == nullptr) return nullptr;
    if (!thread->CreateThread(priority)) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void DebugOutput(const char* text) {
    DebugOutputHook hook = g_debugHook.load();
    if (hook != nullptr) hook(text);
    OutputDebugStringA(text);
}

DebugOutputHook SetDebugOutputHook(DebugOutputHook hook) {
    return g_debugHook.exchange(hook);
}

}  // namespace fw
