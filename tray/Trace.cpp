#include "tray/Trace.h"

#include <utility>

#include "tray/Platform.h"

namespace tray {

namespace {

// Room kept from the start, so that the calls of a normal tick do not allocate on the way to the
// line.
constexpr std::size_t kReservedBytes = 16384;
constexpr std::size_t kReservedEvents = 256;

}  // namespace

class QueuedTraceWriter::Thread : public fw::WorkerThread {
  public:
    explicit Thread(QueuedTraceWriter& writer) : writer_(writer) {}

  protected:
    bool InitInstance() override {
        writer_.Run();
        return false;
    }

  private:
    QueuedTraceWriter& writer_;
};

QueuedTraceWriter::QueuedTraceWriter(std::FILE* out, std::size_t room) : LineTraceWriter(out), room_(room) {}

QueuedTraceWriter::~QueuedTraceWriter() {
    Close();
}

bool QueuedTraceWriter::Start() {
    if (!wake_.Create(false, false)) return false;
    auto* thread = new Thread(*this);
    thread->m_bAutoDelete = false;
    if (!thread->CreateThread(fw::kPriorityNormal)) {
        delete thread;
        return false;
    }
    thread_ = thread;
    return true;
}

bool QueuedTraceWriter::Write(const std::string& lines) {
    if (lines.empty()) return true;
    {
        fw::Lock lock(mutex_);
        if (queued_.size() + lines.size() > room_) return false;
        queued_ += lines;
    }
    wake_.Set();
    return true;
}

void QueuedTraceWriter::Run() {
    for (;;) {
        wake_.Wait(fw::kInfinite);
        std::string lines;
        bool closing = false;
        {
            fw::Lock lock(mutex_);
            lines.swap(queued_);
            closing = closing_;
        }
        // Outside the lock: this is where a slow reader holds us, and only us.
        if (!lines.empty()) LineTraceWriter::Write(lines);
        if (closing) {
            fw::Lock lock(mutex_);
            if (queued_.empty()) return;
        }
    }
}

bool QueuedTraceWriter::Close() {
    if (thread_ == nullptr) return true;
    {
        fw::Lock lock(mutex_);
        closing_ = true;
    }
    wake_.Set();
    while (!thread_->WaitForEnd(100)) {
        // A reader that never reads would keep us here for ever; after Ctrl-C we go without it.
        // The thread may be inside a write to the file: neither is touched again.
        if (Interrupted()) {
            thread_ = nullptr;
            return false;
        }
    }
    delete thread_;
    thread_ = nullptr;
    return true;
}

std::string LineSettingsText(const serial::LineSettings& settings) {
    std::string text = std::to_string(settings.baudRate) + " " + std::to_string(settings.byteSize);
    switch (settings.parity) {
        case serial::Parity::None:
            text += 'N';
            break;
        case serial::Parity::Odd:
            text += 'O';
            break;
        case serial::Parity::Even:
            text += 'E';
            break;
        default:
            text += '?';
            break;
    }
    switch (settings.stopBits) {
        case serial::StopBits::One:
            text += "1";
            break;
        case serial::StopBits::OneAndHalf:
            text += "1.5";
            break;
        case serial::StopBits::Two:
            text += "2";
            break;
        default:
            text += "?";
            break;
    }
    return text;
}

TracingSerialApi::TracingSerialApi(serial::SerialApi& inner, adapter::LineTraceWriter& out,
                                   std::string portLabel, bool decodeFrames)
    : inner_(inner), out_(out), port_(std::move(portLabel), decodeFrames) {
    noted_.reserve(kReservedEvents);
    bytes_.reserve(kReservedBytes);
}

void TracingSerialApi::NoteEvent(const std::string& text) {
    fw::Lock lock(mutex_);
    noted_.push_back({out_.ElapsedMicros(), adapter::TRACE_EVENT, text, 0, 0});
}

void TracingSerialApi::NoteBytes(char direction, const uint8_t* data, uint32_t n) {
    if (n == 0) return;
    fw::Lock lock(mutex_);
    if (bytes_.size() + n > MAX_PENDING_BYTES) {
        lostBytes_ += n;
        return;
    }
    noted_.push_back({out_.ElapsedMicros(), direction, std::string(), bytes_.size(), n});
    bytes_.insert(bytes_.end(), data, data + n);
}

void TracingSerialApi::Flush() {
    std::vector<Noted> noted;
    std::vector<uint8_t> bytes;
    std::size_t lost = 0;
    {
        fw::Lock lock(mutex_);
        if (noted_.empty() && lostBytes_ == 0) return;
        noted.swap(noted_);
        bytes.swap(bytes_);
        std::swap(lost, lostBytes_);
        // The calls keep their reserved room; the formatting below allocates on this thread only.
        noted_.reserve(kReservedEvents);
        bytes_.reserve(kReservedBytes);
    }
    std::string text;
    for (const Noted& n : noted) {
        text += n.direction == adapter::TRACE_EVENT
                    ? port_.Event(n.micros, n.event)
                    : port_.Bytes(n.micros, n.direction, bytes.data() + n.first, n.count);
    }
    if (lost != 0) {
        text += port_.Event(out_.ElapsedMicros(),
                            "trace overflow: " + std::to_string(lost) + " bytes of the line not shown");
    }
    if (text.empty()) return;
    const std::string note =
        droppedLines_ == 0
            ? std::string()
            : port_.Event(out_.ElapsedMicros(), "trace overflow: " + std::to_string(droppedLines_) +
                                                    " lines dropped while the trace's reader was slow");
    if (out_.Write(note + text)) {
        droppedLines_ = 0;
        return;
    }
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    droppedLines_ += lines;
    totalDropped_ += lines;
}

serial::PortHandle TracingSerialApi::Open(unsigned number) {
    const serial::PortHandle port = inner_.Open(number);
    NoteEvent(port != nullptr ? "open" : "open failed");
    return port;
}

void TracingSerialApi::Close(serial::PortHandle port) {
    inner_.Close(port);
    NoteEvent("close");
}

bool TracingSerialApi::SetupQueues(serial::PortHandle port, uint32_t inQueue, uint32_t outQueue) {
    return inner_.SetupQueues(port, inQueue, outQueue);
}

bool TracingSerialApi::GetTimeouts(serial::PortHandle port, serial::CommTimeouts* timeouts) {
    return inner_.GetTimeouts(port, timeouts);
}

bool TracingSerialApi::SetTimeouts(serial::PortHandle port, const serial::CommTimeouts& timeouts) {
    return inner_.SetTimeouts(port, timeouts);
}

bool TracingSerialApi::GetLineSettings(serial::PortHandle port, serial::LineSettings* settings) {
    return inner_.GetLineSettings(port, settings);
}

bool TracingSerialApi::SetLineSettings(serial::PortHandle port, const serial::LineSettings& settings) {
    const bool set = inner_.SetLineSettings(port, settings);
    NoteEvent("speed " + LineSettingsText(settings) + (set ? "" : " failed"));
    return set;
}

bool TracingSerialApi::SetEventMask(serial::PortHandle port, uint32_t mask) {
    return inner_.SetEventMask(port, mask);
}

bool TracingSerialApi::Escape(serial::PortHandle port, serial::EscapeFunction function) {
    return inner_.Escape(port, function);
}

bool TracingSerialApi::GetModemStatus(serial::PortHandle port, uint32_t* status) {
    return inner_.GetModemStatus(port, status);
}

bool TracingSerialApi::Read(serial::PortHandle port, uint8_t* buffer, uint32_t size, uint32_t* got) {
    const bool read = inner_.Read(port, buffer, size, got);
    if (read && got != nullptr) NoteBytes(adapter::TRACE_RECEIVED, buffer, *got < size ? *got : size);
    return read;
}

bool TracingSerialApi::Write(serial::PortHandle port, const uint8_t* data, uint32_t size, uint32_t* written) {
    const bool wrote = inner_.Write(port, data, size, written);
    // What the port took, which a short write makes less than what was offered; the driver's
    // worker offers the rest again and that comes as a line of its own.
    const uint32_t took = written == nullptr ? 0 : (*written < size ? *written : size);
    NoteBytes(adapter::TRACE_SENT, data, took);
    if (!wrote && took == 0) NoteEvent("write failed");
    return wrote;
}

bool TracingSerialApi::CreateStopEvent(fw::Event* event) {
    return inner_.CreateStopEvent(event);
}

bool TracingSerialApi::StartWorker(fw::WorkerThread* worker, int priority) {
    return inner_.StartWorker(worker, priority);
}

}  // namespace tray
