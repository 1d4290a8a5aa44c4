// The line trace: what went over a serial line, one text line per event, in one format for krt42
// and the simulator so that the two ends of one run can be laid side by side. docs/trace.md
// describes the format.
//
//       12.345 /dev/ttyUSB0 * speed 9600 8N1
//       15.020 /dev/ttyUSB0 > 10 01 10 1F 1D 10 02 09 30 09 30 30 33 0C 10 03 C5 15
//       15.020 /dev/ttyUSB0 > frame fn=1D FN_READ_PARAM fields "0" "003" | crc C515 ok
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "adapter/LinkState.h"
#include "framework/Mutex.h"

namespace adapter {

// Directions of a trace line.
constexpr char TRACE_SENT = '>';
constexpr char TRACE_RECEIVED = '<';
constexpr char TRACE_EVENT = '*';  // open, speed, close and the trace's own remarks

// The frames of one direction of the line, followed on their own: a small assembler of its own
// with the link's framing rules (any SOH outside the checksum starts a frame, DLE ETX ends the
// data, the next two bytes are the checksum whatever they are), so that a trace shows what the
// bytes were even where the link's assembler was elsewhere. Fixed storage: a run without DLE ETX
// longer than a frame buffer is reported and dropped.
class TraceFrameDecoder {
  public:
    static constexpr std::size_t MAX_FRAME = FRAME_BUFFER_SIZE;

    // Takes the next bytes of the stream; appends to *lines the text of every frame they complete
    // (or cut short), one text per line without its newline.
    void Feed(const uint8_t* bytes, std::size_t n, std::string* lines);

  private:
    enum class Stage { Outside, Data, Crc1, Crc2 };
    // False when the frame had no room left and was dropped.
    bool Store(uint8_t b, std::string* lines);

    Stage stage_ = Stage::Outside;
    bool dle_ = false;
    std::size_t length_ = 0;
    uint8_t frame_[MAX_FRAME] = {};  // from the byte after SOH through the second checksum byte
};

// The text of one frame: `frame` from the byte after SOH through its two checksum bytes.
std::string DescribeFrame(const uint8_t* frame, std::size_t n);

// Bytes as "10 01 1F"; text as a quoted string with every byte outside printable ASCII as \xNN.
std::string TraceHex(const uint8_t* bytes, std::size_t n);
std::string TraceQuoted(const uint8_t* bytes, std::size_t n);

// One whole line with its newline: the time (microseconds since the start, shown as milliseconds
// with three decimals), the port label, the direction and the text.
std::string TraceLine(int64_t micros, const std::string& port, char direction, const std::string& text);

// The trace file. Several ports' traces and several threads may share one writer: each Write
// goes out whole, never mixed with another.
class LineTraceWriter {
  public:
    // `out` stays the caller's (stderr, or a file the caller closes after the last Write).
    explicit LineTraceWriter(std::FILE* out);
    virtual ~LineTraceWriter() = default;
    LineTraceWriter(const LineTraceWriter&) = delete;
    LineTraceWriter& operator=(const LineTraceWriter&) = delete;

    // Microseconds of the monotonic clock since this writer was made: the time of every line.
    int64_t ElapsedMicros() const;
    // Whole lines, as TraceLine makes them, written and flushed before it returns. A writer that
    // queues them may refuse lines it has no room for: false, and nothing of them is written.
    virtual bool Write(const std::string& lines);
    // False once a write to the file has failed (a full disk, say).
    bool Good();

  private:
    std::FILE* out_;
    int64_t startMicros_;
    bool good_ = true;
    fw::Mutex mutex_;
};

// One port's side of a trace: the event lines and, with decoding on (the configurator's link),
// the frames of each direction. Not thread-safe: one thread makes its lines.
class PortTrace {
  public:
    PortTrace(std::string port, bool decodeFrames);

    // The hex line of bytes sent ('>') or received ('<'), then a line for every frame they
    // complete, all with the same time.
    std::string Bytes(int64_t micros, char direction, const uint8_t* data, std::size_t n);
    // An event line: "open", "speed 9600 8N1", "close", ...
    std::string Event(int64_t micros, const std::string& text) const;

    const std::string& Port() const { return port_; }

  private:
    std::string port_;
    bool decodeFrames_;
    TraceFrameDecoder sent_;
    TraceFrameDecoder received_;
};

}  // namespace adapter
