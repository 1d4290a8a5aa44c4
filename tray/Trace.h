// krt42's line trace: a serial API that passes every call on and notes what went over the line,
// so that the job's own thread can write it out between ticks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "adapter/LineTrace.h"
#include "framework/Event.h"
#include "framework/Mutex.h"
#include "framework/WorkerThread.h"
#include "serial/SerialApi.h"

namespace tray {

// Stands between the driver and the port's API. The calls (from the job's thread and from the
// write worker's) only note their event in memory under a short lock: no file is touched on the
// way to the line, so tracing leaves the timing on the line as it is. Flush, from the job's
// thread after each tick and once more at the end, hands what was noted to the trace writer;
// lines the writer had no room for are told in a line of their own when it has room again.
class TracingSerialApi : public serial::SerialApi {
  public:
    // decodeFrames: the configurator's link, whose frames get a decoded line of their own.
    TracingSerialApi(serial::SerialApi& inner, adapter::LineTraceWriter& out, std::string portLabel,
                     bool decodeFrames);
    TracingSerialApi(const TracingSerialApi&) = delete;
    TracingSerialApi& operator=(const TracingSerialApi&) = delete;

    // Writes the events noted since the last Flush. One thread at a time.
    void Flush();
    // Lines of this port that the trace writer had no room for, in all.
    std::size_t DroppedLines() const { return totalDropped_; }

    // Most bytes held between two Flushes; beyond it bytes are counted, not kept, and the trace
    // says how many are missing.
    static constexpr std::size_t MAX_PENDING_BYTES = 1u << 22;

    // serial::SerialApi
    serial::PortHandle Open(unsigned number) override;
    void Close(serial::PortHandle port) override;
    bool SetupQueues(serial::PortHandle port, uint32_t inQueue, uint32_t outQueue) override;
    bool GetTimeouts(serial::PortHandle port, serial::CommTimeouts* timeouts) override;
    bool SetTimeouts(serial::PortHandle port, const serial::CommTimeouts& timeouts) override;
    bool GetLineSettings(serial::PortHandle port, serial::LineSettings* settings) override;
    bool SetLineSettings(serial::PortHandle port, const serial::LineSettings& settings) override;
    bool SetEventMask(serial::PortHandle port, uint32_t mask) override;
    bool Escape(serial::PortHandle port, serial::EscapeFunction function) override;
    bool GetModemStatus(serial::PortHandle port, uint32_t* status) override;
    bool Read(serial::PortHandle port, uint8_t* buffer, uint32_t size, uint32_t* got) override;
    bool Write(serial::PortHandle port, const uint8_t* data, uint32_t size, uint32_t* written) override;
    bool CreateStopEvent(fw::Event* event) override;
    bool StartWorker(fw::WorkerThread* worker, int priority) override;

  private:
    struct Noted {
        int64_t micros;
        char direction;     // adapter::TRACE_SENT, TRACE_RECEIVED or TRACE_EVENT
        std::string event;  // TRACE_EVENT: the text
        std::size_t first;  // bytes: their place in bytes_
        std::size_t count;
    };
    void NoteEvent(const std::string& text);
    void NoteBytes(char direction, const uint8_t* data, uint32_t n);

    serial::SerialApi& inner_;
    adapter::LineTraceWriter& out_;
    adapter::PortTrace port_;

    fw::Mutex mutex_;  // guards what follows
    std::vector<Noted> noted_;
    std::vector<uint8_t> bytes_;
    std::size_t lostBytes_ = 0;
    std::size_t droppedLines_ = 0;  // refused by the writer since it last took lines; Flush's own
    std::size_t totalDropped_ = 0;
};

// The trace file of a krt42 run, written by a thread of its own, so that a reader who pauses (a
// FIFO, a pager) never holds up the ports' ticks. Lines wait in a queue of bounded size; lines that
// find it full are dropped and counted, never waited for.
class QueuedTraceWriter : public adapter::LineTraceWriter {
  public:
    static constexpr std::size_t DEFAULT_ROOM = 1u << 20;

    explicit QueuedTraceWriter(std::FILE* out, std::size_t room = DEFAULT_ROOM);
    ~QueuedTraceWriter() override;

    // Starts the writing thread; false when there is none.
    bool Start();
    // Queues the lines; false (nothing kept, the lines counted) when the queue has no room.
    bool Write(const std::string& lines) override;
    // Writes out what is queued and ends the thread. Waits for a slow reader, but not after a stop
    // signal: false then, and the file is left to the end of the process.
    bool Close();

  private:
    class Thread;
    void Run();

    std::size_t room_;
    fw::Mutex mutex_;  // guards what follows
    std::string queued_;
    bool closing_ = false;
    fw::Event wake_;
    Thread* thread_ = nullptr;
};

// "9600 8N1" and the like.
std::string LineSettingsText(const serial::LineSettings& settings);

}  // namespace tray
