// A scripted stand-in for the operating system's serial calls. It records every call the
// driver makes and lets a test decide how the port behaves: opens that fail, received bytes,
// short, failing or never-ending writes, and refused stop events or workers.
// Every method may be called from any thread; the driver's worker writes while the test reads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "serial/ComDriver.h"
#include "serial/SerialApi.h"

namespace krt_test {

class FakeSerialApi : public serial::SerialApi {
  public:
    static constexpr uint32_t kNoLimit = 0xFFFFFFFFu;
    // One scripted write: take at most `limit` bytes, or fail outright.
    struct WriteStep {
        bool fail = false;
        uint32_t limit = kNoLimit;
    };
    struct QueueSetup {
        uint32_t in = 0;
        uint32_t out = 0;
    };

    FakeSerialApi();
    ~FakeSerialApi() override;

    // ---- scripting ----
    // Open of this port number fails (as a missing or busy port would).
    void FailOpen(unsigned port);
    void RefuseStopEvent(bool refuse);
    void RefuseWorker(bool refuse);
    // Bytes that the port has received and a read will hand out.
    void QueueRx(unsigned port, const void* data, std::size_t size);
    void QueueRx(unsigned port, const std::string& bytes) { QueueRx(port, bytes.data(), bytes.size()); }
    std::size_t RxLeft(unsigned port);
    void FailReads(bool fail);
    // Every write takes at most k bytes (0: takes nothing but reports success).
    void SetWriteLimit(uint32_t k);
    // Every write fails outright (reports failure, takes nothing).
    void FailWrites(bool fail);
    // The next writes follow this script, one step per call; afterwards the defaults apply.
    void ScriptWrites(const std::vector<WriteStep>& steps);
    // Writes block (a stalled line) until ReleaseWrites; a worker ended from outside while
    // blocked simply never returns. Nothing is locked while a write waits.
    void BlockWrites(bool block);
    void ReleaseWrites();
    // True once a write is waiting in BlockWrites, within the limit.
    bool WaitForBlockedWrite(std::chrono::milliseconds limit = std::chrono::seconds(10));
    void SetModemStatus(uint32_t status);
    void FailModemStatus(bool fail);
    // The line settings a port has before the driver touches it.
    void SetInitialLineSettings(const serial::LineSettings& settings);
    // Runs inside every Write call before the bytes are taken (on the worker's thread).
    void OnWrite(std::function<void()> hook);

    // ---- records ----
    std::vector<unsigned> OpenCalls();
    std::vector<unsigned> CloseCalls();  // port numbers of the closed handles
    std::vector<QueueSetup> QueueSetups();
    std::vector<serial::CommTimeouts> TimeoutsSet();
    int GetTimeoutsCalls();
    std::vector<serial::LineSettings> LineSettingsSet();
    std::vector<uint32_t> EventMasks();
    std::vector<serial::EscapeFunction> Escapes();
    // Every call in order, as short texts: "open 3", "close 3", "escape SETRTS",
    // "write 10 took 4", "write 10 failed", "read 5 got 2", "setlines", "mask 64", ...
    std::vector<std::string> Log();
    std::vector<uint8_t> Written(unsigned port);
    int WriteCalls();
    int BlockedWrites() const { return blockedWrites_.load(); }
    int StopEventsCreated();
    int WorkersBegun();
    int LastWorkerPriority();
    // The current line settings of a port (after the driver's changes).
    serial::LineSettings PortSettings(unsigned port);
    bool IsOpen(unsigned port);

    static const char* EscapeName(serial::EscapeFunction function);

    // ---- serial::SerialApi ----
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
    struct Port {
        unsigned number = 0;
        bool open = false;
        serial::LineSettings settings;
        serial::CommTimeouts timeouts;
        std::deque<uint8_t> rx;
        std::vector<uint8_t> written;
    };
    Port* PortOf(serial::PortHandle handle);  // caller holds mu_
    Port& PortNumbered(unsigned number);      // caller holds mu_
    void Record(const std::string& entry);    // caller holds mu_

    std::mutex mu_;
    std::map<unsigned, std::unique_ptr<Port>> ports_;
    std::set<unsigned> failingOpens_;
    bool refuseStopEvent_ = false;
    bool refuseWorker_ = false;
    bool failReads_ = false;
    bool failWrites_ = false;
    uint32_t writeLimit_ = kNoLimit;
    std::deque<WriteStep> writeScript_;
    std::atomic<bool> blockWrites_{false};
    std::atomic<int> blockedWrites_{0};
    uint32_t modemStatus_ = 0;
    bool failModemStatus_ = false;
    serial::LineSettings initialSettings_;
    std::function<void()> writeHook_;

    std::vector<unsigned> openCalls_;
    std::vector<unsigned> closeCalls_;
    std::vector<QueueSetup> queueSetups_;
    std::vector<serial::CommTimeouts> timeoutsSet_;
    int getTimeoutsCalls_ = 0;
    std::vector<serial::LineSettings> lineSettingsSet_;
    std::vector<uint32_t> eventMasks_;
    std::vector<serial::EscapeFunction> escapes_;
    std::vector<std::string> log_;
    int writeCalls_ = 0;
    int stopEventsCreated_ = 0;
    int workersBegun_ = 0;
    int lastWorkerPriority_ = -1;
};

// Polls `condition` until it holds or `limit` has passed; true when it held.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// Waits until the driver's COM_BUSY answers 0 (the last write's worker has ended).
bool WaitUntilNotBusy(serial::ComDriver& driver, std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace krt_test
