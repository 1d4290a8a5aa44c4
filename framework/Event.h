// A manual- or auto-reset event, the one synchronisation object the serial channel needs.
#pragma once

#include <cstdint>

namespace fw {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
  public:
    Event() = default;
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Creates the event without a name. False when the platform refuses it.
    bool Create(bool manualReset, bool initiallySignalled);
    bool IsValid() const { return impl_ != nullptr; }
    void Set();
    void Reset();
    // True when the event is signalled within timeoutMs (0 only tests it).
    bool Wait(uint32_t timeoutMs);
    void Close();

  private:
    struct Impl;
    Impl* impl_ = nullptr;
};

}  // namespace fw
