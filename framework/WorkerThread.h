// A worker thread with its own message queue: InitInstance, a message loop that offers each
// thread message to PreTranslateMessage, ExitInstance. The serial driver's write worker is one.
#pragma once

#include <cstdint>

namespace fw {

// Thread priorities, with the values of the Windows API.
constexpr int kPriorityNormal = 0;
constexpr int kPriorityTimeCritical = 15;

struct ThreadMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

class WorkerThread {
  public:
    WorkerThread();
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread at the given priority and returns once its message queue exists,
    // so that a message posted right after it is not lost. False when no thread was made.
    bool CreateThread(int priority);
    bool PostThreadMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    // True when the thread has ended within timeoutMs (0 only tests it). True as well
    // when no thread was ever started.
    bool WaitForEnd(uint32_t timeoutMs);
    // Ends the thread from outside, wherever it is (TerminateThread with exit code 0).
    void Terminate();
    bool Started() const { return impl_ != nullptr; }

    // When true, the object deletes itself after its thread has ended.
    bool m_bAutoDelete = true;

  protected:
    // Return true to enter the message loop, false to end the thread at once.
    virtual bool InitInstance() { return true; }
    // Return true when the message was handled here.
    virtual bool PreTranslateMessage(const ThreadMessage& msg) { return false; }
    virtual int ExitInstance() { return 0; }
    // Ends the thread from inside, after the current message (AfxEndThread).
    void EndThread() { endRequested_ = true; }

  private:
    friend struct ThreadRunner;
    void Run();  // thread body: InitInstance, loop, ExitInstance

    struct Impl;
    Impl* impl_ = nullptr;
    bool endRequested_ = false;
};

// Creates a thread object of the given class and starts it. Null when no thread was made (the
// object is then deleted).
template <class Thread>
Thread* BeginThread(int priority) {
    Thread* thread = new Thread;
    if (!thread->CreateThread(priority)) {
        delete thread;
        return nullptr;
    }
    return thread;
}

}  // namespace fw
