// Worker threads on POSIX: a pthread with its own message queue (mutex and condition variable).
// Thread priorities are ignored here: raising one needs privileges that a test run lacks, and
// nothing on this side depends on it.
//
// Terminate uses pthread_cancel. Cancellation is allowed only while a message is being handled
// (where a blocking write must be interruptible, as TerminateThread interrupts it on Windows);
// while the thread waits for its queue it is disabled, so it never leaves the queue's mutex
// locked, and Terminate wakes that wait through a flag instead.
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <deque>

#include "framework/Deadline_posix.h"
#include "framework/Event.h"
#include "framework/WorkerThread.h"

#if defined(__SANITIZE_ADDRESS__)
#define KRT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KRT_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(KRT_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

namespace fw {

struct WorkerThread::Impl {
    pthread_t tid{};
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    std::deque<ThreadMessage> queue;
    bool ended = false;
    bool terminating = false;
    bool joined = false;
};

namespace {

// A cancelled thread unwinds without the epilogues of the instrumented frames that it leaves,
// so their stack poison stays behind and trips the address sanitizer's own calls at thread
// exit. The thread's outermost frame clears it on the way out.
struct StackPoisonCleaner {
    ~StackPoisonCleaner() {
#if defined(KRT_ADDRESS_SANITIZER)
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
        void* low = nullptr;
        size_t size = 0;
        pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
        char* here = static_cast<char*>(__builtin_frame_address(0));
        char* bottom = static_cast<char*>(low);
        if (bottom != nullptr && here > bottom)
            __asan_unpoison_memory_region(bottom, static_cast<size_t>(here - bottom));
#endif
    }
};

}  // namespace

struct ThreadRunner {
    static void* Entry(void* arg) {
        auto* self = static_cast<WorkerThread*>(arg);
        // Wait until the creator has stored the thread id: a thread that ended at once could
        // otherwise free its object under pthread_create.
        pthread_mutex_lock(&self->impl_->mutex);
        pthread_mutex_unlock(&self->impl_->mutex);
        StackPoisonCleaner cleaner;
        self->Run();
        return nullptr;
    }
};

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() {
    if (impl_ == nullptr) return;
    pthread_mutex_lock(&impl_->mutex);
    const bool joined = impl_->joined;
    pthread_mutex_unlock(&impl_->mutex);
    if (!joined && !WaitForEnd(0)) Terminate();
    pthread_cond_destroy(&impl_->cond);
    pthread_mutex_destroy(&impl_->mutex);
    delete impl_;
    impl_ = nullptr;
}

bool WorkerThread::CreateThread(int /*priority: ignored on POSIX*/) {
    if (impl_ != nullptr) return false;
    Impl* impl = new Impl;
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_mutex_init(&impl->mutex, nullptr);
    pthread_cond_init(&impl->cond, &attr);
    pthread_condattr_destroy(&attr);
    // The queue exists before the thread does, so a message posted right away is kept.
    impl_ = impl;
    pthread_t tid;
    pthread_mutex_lock(&impl->mutex);
    const bool started = pthread_create(&tid, nullptr, &ThreadRunner::Entry, this) == 0;
    if (started) impl->tid = tid;
    pthread_mutex_unlock(&impl->mutex);
    if (!started) {
        impl_ = nullptr;
        pthread_cond_destroy(&impl->cond);
        pthread_mutex_destroy(&impl->mutex);
        delete impl;
        return false;
    }
    return true;
}

bool WorkerThread::PostThreadMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (impl_ == nullptr) return false;
    pthread_mutex_lock(&impl_->mutex);
    const bool open = !impl_->ended && !impl_->terminating;
    if (open) {
        impl_->queue.push_back(ThreadMessage{message, wParam, lParam});
        pthread_cond_signal(&impl_->cond);
    }
    pthread_mutex_unlock(&impl_->mutex);
    return open;
}

bool WorkerThread::WaitForEnd(uint32_t timeoutMs) {
    if (impl_ == nullptr) return true;
    pthread_mutex_lock(&impl_->mutex);
    if (!impl_->ended && timeoutMs != 0) {
        if (timeoutMs == kInfinite) {
            while (!impl_->ended) pthread_cond_wait(&impl_->cond, &impl_->mutex);
        } else {
            const timespec deadline = DeadlineAfter(timeoutMs);
            while (!impl_->ended) {
                if (pthread_cond_timedwait(&impl_->cond, &impl_->mutex, &deadline) == ETIMEDOUT) break;
            }
        }
    }
    const bool ended = impl_->ended;
    const bool join = ended && !impl_->joined;
    if (join) impl_->joined = true;
    pthread_mutex_unlock(&impl_->mutex);
    if (join) pthread_join(impl_->tid, nullptr);
    return ended;
}

void WorkerThread::Terminate() {
    if (impl_ == nullptr) return;
    pthread_mutex_lock(&impl_->mutex);
    if (impl_->joined) {
        pthread_mutex_unlock(&impl_->mutex);
        return;
    }
    impl_->terminating = true;
    impl_->joined = true;
    pthread_cond_broadcast(&impl_->cond);
    pthread_mutex_unlock(&impl_->mutex);
    pthread_cancel(impl_->tid);
    pthread_join(impl_->tid, nullptr);
    pthread_mutex_lock(&impl_->mutex);
    impl_->ended = true;
    pthread_cond_broadcast(&impl_->cond);
    pthread_mutex_unlock(&impl_->mutex);
}

void WorkerThread::Run() {
    Impl* impl = impl_;
    bool terminated = false;
    const bool loop = InitInstance();  // cancellation is enabled by default here
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    while (loop) {
        pthread_mutex_lock(&impl->mutex);
        while (impl->queue.empty() && !impl->terminating) pthread_cond_wait(&impl->cond, &impl->mutex);
        if (impl->terminating) {
            pthread_mutex_unlock(&impl->mutex);
            terminated = true;
            break;
        }
        const ThreadMessage msg = impl->queue.front();
        impl->queue.pop_front();
        pthread_mutex_unlock(&impl->mutex);

        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
        PreTranslateMessage(msg);  // nothing else to dispatch to: a worker has no windows
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        if (endRequested_) break;
    }
    if (!terminated) ExitInstance();

    pthread_mutex_lock(&impl->mutex);
    // A thread that is being terminated belongs to the terminating caller, never to itself.
    const bool autoDelete = m_bAutoDelete && !impl->terminating;
    if (autoDelete) impl->joined = true;
    impl->ended = true;
    pthread_cond_broadcast(&impl->cond);
    pthread_mutex_unlock(&impl->mutex);
    if (autoDelete) {
        pthread_detach(pthread_self());
        delete this;
    }
}

}  // namespace fw
