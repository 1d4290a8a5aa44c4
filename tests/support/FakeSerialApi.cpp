#include "tests/support/FakeSerialApi.h"

#include <time.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "serial/VaRevir.h"

namespace krt_test {

using serial::CommTimeouts;
using serial::EscapeFunction;
using serial::LineSettings;
using serial::PortHandle;
using serial::VaRevir;

FakeSerialApi::FakeSerialApi() {
    // Deliberately not what the driver sets, so a test sees every field that it changes.
    initialSettings_.baudRate = 4800;
    initialSettings_.byteSize = 5;
    initialSettings_.parity = serial::Parity::Odd;
    initialSettings_.stopBits = serial::StopBits::Two;
    initialSettings_.fParity = true;
    initialSettings_.fOutxCtsFlow = true;
    initialSettings_.fOutxDsrFlow = true;
    initialSettings_.fDsrSensitivity = true;
    initialSettings_.fAbortOnError = true;
    initialSettings_.fDtrControl = serial::LineControl::Handshake;
    initialSettings_.fRtsControl = serial::LineControl::Handshake;
}

FakeSerialApi::~FakeSerialApi() {
    ReleaseWrites();
}

void FakeSerialApi::FailOpen(unsigned port) {
    std::lock_guard<std::mutex> lock(mu_);
    failingOpens_.insert(port);
}

void FakeSerialApi::RefuseStopEvent(bool refuse) {
    std::lock_guard<std::mutex> lock(mu_);
    refuseStopEvent_ = refuse;
}

void FakeSerialApi::RefuseWorker(bool refuse) {
    std::lock_guard<std::mutex> lock(mu_);
    refuseWorker_ = refuse;
}

void FakeSerialApi::QueueRx(unsigned port, const void* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(mu_);
    const auto* bytes = static_cast<const uint8_t*>(data);
    Port& p = PortNumbered(port);
    p.rx.insert(p.rx.end(), bytes, bytes + size);
}

std::size_t FakeSerialApi::RxLeft(unsigned port) {
    std::lock_guard<std::mutex> lock(mu_);
    return PortNumbered(port).rx.size();
}

void FakeSerialApi::FailReads(bool fail) {
    std::lock_guard<std::mutex> lock(mu_);
    failReads_ = fail;
}

void FakeSerialApi::SetWriteLimit(uint32_t k) {
    std::lock_guard<std::mutex> lock(mu_);
    writeLimit_ = k;
}

void FakeSerialApi::FailWrites(bool fail) {
    std::lock_guard<std::mutex> lock(mu_);
    failWrites_ = fail;
}

void FakeSerialApi::ScriptWrites(const std::vector<WriteStep>& steps) {
    std::lock_guard<std::mutex> lock(mu_);
    writeScript_.assign(steps.begin(), steps.end());
}

void FakeSerialApi::BlockWrites(bool block) {
    blockWrites_ = block;
}

void FakeSerialApi::ReleaseWrites() {
    blockWrites_ = false;
}

bool FakeSerialApi::WaitForBlockedWrite(std::chrono::milliseconds limit) {
    return WaitFor([this] { return blockedWrites_.load() > 0; }, limit);
}

void FakeSerialApi::SetModemStatus(uint32_t status) {
    std::lock_guard<std::mutex> lock(mu_);
    modemStatus_ = status;
}

void FakeSerialApi::FailModemStatus(bool fail) {
    std::lock_guard<std::mutex> lock(mu_);
    failModemStatus_ = fail;
}

void FakeSerialApi::SetInitialLineSettings(const LineSettings& settings) {
    std::lock_guard<std::mutex> lock(mu_);
    initialSettings_ = settings;
}

void FakeSerialApi::OnWrite(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mu_);
    writeHook_ = std::move(hook);
}

std::vector<unsigned> FakeSerialApi::OpenCalls() {
    std::lock_guard<std::mutex> lock(mu_);
    return openCalls_;
}

std::vector<unsigned> FakeSerialApi::CloseCalls() {
    std::lock_guard<std::mutex> lock(mu_);
    return closeCalls_;
}

std::vector<FakeSerialApi::QueueSetup> FakeSerialApi::QueueSetups() {
    std::lock_guard<std::mutex> lock(mu_);
    return queueSetups_;
}

std::vector<CommTimeouts> FakeSerialApi::TimeoutsSet() {
    std::lock_guard<std::mutex> lock(mu_);
    return timeoutsSet_;
}

int FakeSerialApi::GetTimeoutsCalls() {
    std::lock_guard<std::mutex> lock(mu_);
    return getTimeoutsCalls_;
}

std::vector<LineSettings> FakeSerialApi::LineSettingsSet() {
    std::lock_guard<std::mutex> lock(mu_);
    return lineSettingsSet_;
}

std::vector<uint32_t> FakeSerialApi::EventMasks() {
    std::lock_guard<std::mutex> lock(mu_);
    return eventMasks_;
}

std::vector<EscapeFunction> FakeSerialApi::Escapes() {
    std::lock_guard<std::mutex> lock(mu_);
    return escapes_;
}

std::vector<std::string> FakeSerialApi::Log() {
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
}

std::vector<uint8_t> FakeSerialApi::Written(unsigned port) {
    std::lock_guard<std::mutex> lock(mu_);
    return PortNumbered(port).written;
}

int FakeSerialApi::WriteCalls() {
    std::lock_guard<std::mutex> lock(mu_);
    return writeCalls_;
}

int FakeSerialApi::StopEventsCreated() {
    std::lock_guard<std::mutex> lock(mu_);
    return stopEventsCreated_;
}

int FakeSerialApi::WorkersBegun() {
    std::lock_guard<std::mutex> lock(mu_);
    return workersBegun_;
}

int FakeSerialApi::LastWorkerPriority() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastWorkerPriority_;
}

LineSettings FakeSerialApi::PortSettings(unsigned port) {
    std::lock_guard<std::mutex> lock(mu_);
    return PortNumbered(port).settings;
}

bool FakeSerialApi::IsOpen(unsigned port) {
    std::lock_guard<std::mutex> lock(mu_);
    return PortNumbered(port).open;
}

const char* FakeSerialApi::EscapeName(EscapeFunction function) {
    switch (function) {
        case EscapeFunction::SetRts:
            return "SETRTS";
        case EscapeFunction::ClearRts:
            return "CLRRTS";
        case EscapeFunction::SetDtr:
            return "SETDTR";
        case EscapeFunction::ClearDtr:
            return "CLRDTR";
        case EscapeFunction::SetBreak:
            return "SETBREAK";
        case EscapeFunction::ClearBreak:
            return "CLRBREAK";
    }
    return "?";
}

FakeSerialApi::Port* FakeSerialApi::PortOf(PortHandle handle) {
    for (auto& entry : ports_) {
        if (entry.second.get() == handle) return entry.second.get();
    }
    return nullptr;
}

FakeSerialApi::Port& FakeSerialApi::PortNumbered(unsigned number) {
    auto& slot = ports_[number];
    if (!slot) {
        slot = std::make_unique<Port>();
        slot->number = number;
        slot->settings = initialSettings_;
    }
    return *slot;
}

void FakeSerialApi::Record(const std::string& entry) {
    log_.push_back(entry);
}

PortHandle FakeSerialApi::Open(unsigned number) {
    std::lock_guard<std::mutex> lock(mu_);
    openCalls_.push_back(number);
    Port& p = PortNumbered(number);
    // A port held elsewhere, or by ourselves, cannot be opened again: the real one has no sharing.
    if (failingOpens_.count(number) != 0 || p.open) {
        Record("open " + std::to_string(number) + " failed");
        return nullptr;
    }
    Record("open " + std::to_string(number));
    p.open = true;
    return &p;
}

void FakeSerialApi::Close(PortHandle port) {
    std::lock_guard<std::mutex> lock(mu_);
    Port* p = PortOf(port);
    if (p == nullptr || !p->open) {
        Record("close of a bad handle");
        closeCalls_.push_back(0);
        return;
    }
    p->open = false;
    closeCalls_.push_back(p->number);
    Record("close " + std::to_string(p->number));
}

bool FakeSerialApi::SetupQueues(PortHandle port, uint32_t inQueue, uint32_t outQueue) {
    std::lock_guard<std::mutex> lock(mu_);
    queueSetups_.push_back({inQueue, outQueue});
    Record("queues " + std::to_string(inQueue) + " " + std::to_string(outQueue));
    return PortOf(port) != nullptr;
}

bool FakeSerialApi::GetTimeouts(PortHandle port, CommTimeouts* timeouts) {
    std::lock_guard<std::mutex> lock(mu_);
    ++getTimeoutsCalls_;
    Record("gettimeouts");
    Port* p = PortOf(port);
    if (p == nullptr) return false;
    *timeouts = p->timeouts;
    return true;
}

bool FakeSerialApi::SetTimeouts(PortHandle port, const CommTimeouts& timeouts) {
    std::lock_guard<std::mutex> lock(mu_);
    timeoutsSet_.push_back(timeouts);
    Record("settimeouts");
    Port* p = PortOf(port);
    if (p == nullptr) return false;
    p->timeouts = timeouts;
    return true;
}

bool FakeSerialApi::GetLineSettings(PortHandle port, LineSettings* settings) {
    std::lock_guard<std::mutex> lock(mu_);
    Record("getlines");
    Port* p = PortOf(port);
    if (p == nullptr) return false;
    *settings = p->settings;
    return true;
}

bool FakeSerialApi::SetLineSettings(PortHandle port, const LineSettings& settings) {
    std::lock_guard<std::mutex> lock(mu_);
    lineSettingsSet_.push_back(settings);
    Record("setlines");
    Port* p = PortOf(port);
    if (p == nullptr) return false;
    p->settings = settings;
    return true;
}

bool FakeSerialApi::SetEventMask(PortHandle port, uint32_t mask) {
    std::lock_guard<std::mutex> lock(mu_);
    eventMasks_.push_back(mask);
    Record("mask " + std::to_string(mask));
    return PortOf(port) != nullptr;
}

bool FakeSerialApi::Escape(PortHandle port, EscapeFunction function) {
    std::lock_guard<std::mutex> lock(mu_);
    escapes_.push_back(function);
    Record(std::string("escape ") + EscapeName(function));
    return PortOf(port) != nullptr;
}

bool FakeSerialApi::GetModemStatus(PortHandle port, uint32_t* status) {
    std::lock_guard<std::mutex> lock(mu_);
    Record("modemstatus");
    if (PortOf(port) == nullptr || failModemStatus_) return false;
    *status = modemStatus_;
    return true;
}

bool FakeSerialApi::Read(PortHandle port, uint8_t* buffer, uint32_t size, uint32_t* got) {
    std::lock_guard<std::mutex> lock(mu_);
    *got = 0;
    Port* p = PortOf(port);
    if (p == nullptr || failReads_) {
        Record("read " + std::to_string(size) + " failed");
        return false;
    }
    const uint32_t n = static_cast<uint32_t>(std::min<std::size_t>(size, p->rx.size()));
    std::copy(p->rx.begin(), p->rx.begin() + n, buffer);
    p->rx.erase(p->rx.begin(), p->rx.begin() + n);
    *got = n;
    Record("read " + std::to_string(size) + " got " + std::to_string(n));
    return true;
}

bool FakeSerialApi::Write(PortHandle port, const uint8_t* data, uint32_t size, uint32_t* written) {
    *written = 0;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++writeCalls_;
        hook = writeHook_;
    }
    if (hook) hook();
    if (blockWrites_) {
        // No lock is held here: a worker ended from outside must leave the fake usable.
        // nanosleep is called directly with no local of its own: a worker ended by
        // cancellation unwinds from here, and an instrumented frame below this one would
        // leave stale stack poison that the address sanitizer then trips over.
        static const timespec kPause = {0, 1000000};
        ++blockedWrites_;
        while (blockWrites_) nanosleep(&kPause, nullptr);
        --blockedWrites_;
    }
    std::lock_guard<std::mutex> lock(mu_);
    Port* p = PortOf(port);
    WriteStep step{failWrites_, writeLimit_};
    if (!writeScript_.empty()) {
        step = writeScript_.front();
        writeScript_.pop_front();
    }
    if (p == nullptr || !p->open || step.fail) {
        Record("write " + std::to_string(size) + " failed");
        return false;
    }
    const uint32_t n = std::min(size, step.limit);
    p->written.insert(p->written.end(), data, data + n);
    *written = n;
    Record("write " + std::to_string(size) + " took " + std::to_string(n));
    return true;
}

bool FakeSerialApi::CreateStopEvent(fw::Event* event) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (refuseStopEvent_) {
            Record("stopevent refused");
            return false;
        }
        ++stopEventsCreated_;
        Record("stopevent");
    }
    return SerialApi::CreateStopEvent(event);
}

bool FakeSerialApi::StartWorker(fw::WorkerThread* worker, int priority) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        lastWorkerPriority_ = priority;
        if (refuseWorker_) {
            Record("worker refused");
            return false;
        }
        ++workersBegun_;
        Record(dynamic_cast<VaRevir*>(worker) != nullptr ? "worker VaRevir" : "worker ?");
    }
    return SerialApi::StartWorker(worker, priority);
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool WaitUntilNotBusy(serial::ComDriver& driver, std::chrono::milliseconds limit) {
    return WaitFor(
        [&driver] {
            int busy = -1;
            driver.ComDriverCall(serial::COM_BUSY, &busy, nullptr);
            return busy == 0;
        },
        limit);
}

}  // namespace krt_test
