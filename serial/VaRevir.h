// VaRevir, the driver's write worker: one short-lived thread per COM_WRITE. It waits for
// WM_COMWRITE, sends the driver's pending write and ends its thread. The object outlives its
// thread (COM_BUSY asks about it afterwards); the driver deletes it.
#pragma once

#include <cstdint>

#include "framework/Event.h"
#include "framework/WorkerThread.h"

namespace serial {

class ComDriver;

class VaRevir : public fw::WorkerThread {
  public:
    VaRevir();

    // A port that keeps failing (or taking nothing) is given up after this many calls in a
    // row, so that a worker at time-critical priority never retries without end; the driver
    // then reports LineFailed.
    static constexpr int kUnproductiveWritesLimit = 5;
    // The pause after such a call; it is spent waiting on the stop event, so a close still
    // stops the worker at once.
    static constexpr uint32_t kRetryPauseMs = 20;

    // The driver's stop event; set by the driver before it sends the write order.
    fw::Event* m_hEventStop = nullptr;
    // The driver whose pending write this worker sends.
    ComDriver* m_pDriver = nullptr;

  protected:
    bool InitInstance() override { return true; }
    bool PreTranslateMessage(const fw::ThreadMessage& msg) override;

  private:
    void WriteLoop();
    bool StopSignalled(uint32_t timeoutMs);
};

}  // namespace serial
