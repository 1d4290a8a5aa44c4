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
    HANDLE ready = nullptr;  // set by the thread once its queue exists; closed by the creator
    HANDLE go = nullptr;     // set by the creator once it is done; closed by the thread
};

struct ThreadRunner {
    static unsigned __stdcall Entry(void* arg) {
        auto* self = static_cast<WorkerThread*>(arg);
        HANDLE go = self->impl_->go;
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        SetEvent(self->impl_->ready);
        // A thread that ended at once could free its object while the creator still uses it.
        WaitForSingleObject(go, INFINITE);
        CloseHandle(go);
        self->Run();
        return 0;
    }
};

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
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ready == nullptr || go == nullptr) {
        if (ready != nullptr) CloseHandle(ready);
        if (go != nullptr) CloseHandle(go);
        delete impl;
        return false;
    }
    impl->ready = ready;
    impl->go = go;
    impl_ = impl;
    uintptr_t h = _beginthreadex(nullptr, 0, &ThreadRunner::Entry, this, CREATE_SUSPENDED, &impl->id);
    if (h == 0) {
        impl_ = nullptr;
        CloseHandle(ready);
        CloseHandle(go);
        delete impl;
        return false;
    }
    HANDLE thread = reinterpret_cast<HANDLE>(h);
    impl->thread = thread;
    SetThreadPriority(thread, priority);
    ResumeThread(thread);
    HANDLE both[2] = {ready, thread};
    WaitForMultipleObjects(2, both, FALSE, INFINITE);
    impl->ready = nullptr;
    CloseHandle(ready);
    SetEvent(go);  // from here on the thread may end and free everything
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

}  // namespace fw
