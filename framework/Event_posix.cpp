// The event on POSIX: a flag guarded by a mutex, with a condition variable on the monotonic
// clock so that a wait is not cut short or stretched by a change of the wall clock.
#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "framework/Deadline_posix.h"
#include "framework/Event.h"

namespace fw {

struct Event::Impl {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool manualReset = true;
    bool signalled = false;
};

Event::~Event() {
    Close();
}

bool Event::Create(bool manualReset, bool initiallySignalled) {
    Close();
    Impl* impl = new Impl;
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    const bool ok = pthread_mutex_init(&impl->mutex, nullptr) == 0;
    if (!ok || pthread_cond_init(&impl->cond, &attr) != 0) {
        if (ok) pthread_mutex_destroy(&impl->mutex);
        pthread_condattr_destroy(&attr);
        delete impl;
        return false;
    }
    pthread_condattr_destroy(&attr);
    impl->manualReset = manualReset;
    impl->signalled = initiallySignalled;
    impl_ = impl;
    return true;
}

void Event::Set() {
    if (impl_ == nullptr) return;
    pthread_mutex_lock(&impl_->mutex);
    impl_->signalled = true;
    pthread_cond_broadcast(&impl_->cond);
    pthread_mutex_unlock(&impl_->mutex);
}

void Event::Reset() {
    if (impl_ == nullptr) return;
    pthread_mutex_lock(&impl_->mutex);
    impl_->signalled = false;
    pthread_mutex_unlock(&impl_->mutex);
}

bool Event::Wait(uint32_t timeoutMs) {
    if (impl_ == nullptr) return false;
    // A thread ended from outside while waiting here would leave the mutex locked for ever.
    int cancelState = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
    pthread_mutex_lock(&impl_->mutex);
    if (!impl_->signalled && timeoutMs != 0) {
        if (timeoutMs == kInfinite) {
            while (!impl_->signalled) pthread_cond_wait(&impl_->cond, &impl_->mutex);
        } else {
            const timespec deadline = DeadlineAfter(timeoutMs);
            while (!impl_->signalled) {
                if (pthread_cond_timedwait(&impl_->cond, &impl_->mutex, &deadline) == ETIMEDOUT) break;
            }
        }
    }
    const bool got = impl_->signalled;
    if (got && !impl_->manualReset) impl_->signalled = false;
    pthread_mutex_unlock(&impl_->mutex);
    pthread_setcancelstate(cancelState, nullptr);
    return got;
}

void Event::Close() {
    if (impl_ == nullptr) return;
    pthread_cond_destroy(&impl_->cond);
    pthread_mutex_destroy(&impl_->mutex);
    delete impl_;
    impl_ = nullptr;
}

}  // namespace fw
