#include <pthread.h>

#include "framework/Mutex.h"

namespace fw {

struct Mutex::Impl {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};

Mutex::Mutex() : impl_(new Impl) {}

Mutex::~Mutex() {
    pthread_mutex_destroy(&impl_->mutex);
    delete impl_;
}

void Mutex::Lock() {
    pthread_mutex_lock(&impl_->mutex);
}

void Mutex::Unlock() {
    pthread_mutex_unlock(&impl_->mutex);
}

}  // namespace fw
