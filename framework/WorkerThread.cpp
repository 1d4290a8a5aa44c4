#include "framework/WorkerThread.h"

namespace fw {

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

}  // namespace fw
