// A plain lock for the few places where two threads share a buffer (a line trace, the output of
// several ports). The Windows toolchain's runtime has no std::mutex, so each platform gives its own.
#pragma once

namespace fw {

class Mutex {
  public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock();
    void Unlock();

  private:
    struct Impl;
    Impl* impl_;
};

// Holds a mutex for one scope.
class Lock {
  public:
    explicit Lock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~Lock() { mutex_.Unlock(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    Mutex& mutex_;
};

}  // namespace fw
