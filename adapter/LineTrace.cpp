#include "adapter/LineTrace.h"

#include <chrono>
#include <cinttypes>
#include <utility>

#include "adapter/FrameCodec.h"

namespace adapter {

namespace {

int64_t MonotonicMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* FunctionName(uint8_t code) {
    switch (code) {
        case FN_READ_PARAM:
            return "FN_READ_PARAM";
        case FN_READ_ARRAY:
            return "FN_READ_ARRAY";
        case FN_PARAM_VALUE:
            return "FN_PARAM_VALUE";
        case FN_ARRAY_VALUES:
            return "FN_ARRAY_VALUES";
        case FN_WRITE_REPLY:
            return "FN_WRITE_REPLY";
        default:
            return nullptr;
    }
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

// The data as fields: each HT opens one, shown quoted; each FF shows as "|". Bytes that no HT
// opened (at the start, or behind an FF) are shown with a "~" before the quote, so that every
// byte of the data can be told from the text.
std::string DescribeFields(const uint8_t* data, std::size_t n) {
    if (n == 0) return "no data";
    std::string text = "fields";
    std::size_t i = 0;
    while (i < n) {
        if (data[i] == FF) {
            text += " |";
            ++i;
            continue;
        }
        text += ' ';
        if (data[i] == HT) {
            ++i;
        } else {
            text += '~';
        }
        const std::size_t start = i;
        while (i < n && data[i] != HT && data[i] != FF) ++i;
        text += TraceQuoted(data + start, i - start);
    }
    return text;
}

}  // namespace

std::string TraceHex(const uint8_t* bytes, std::size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string TraceQuoted(const uint8_t* bytes, std::size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text = "\"";
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        if (b == '"' || b == '\\') {
            text += '\\';
            text += static_cast<char>(b);
        } else if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else {
            text += "\\x";
            text += kDigits[b >> 4];
            text += kDigits[b & 0x0F];
        }
    }
    text += '"';
    return text;
}

std::string DescribeFrame(const uint8_t* frame, std::size_t n) {
    if (n < 4) return "frame of " + std::to_string(n) + " bytes";
    const uint16_t got = static_cast<uint16_t>((frame[n - 2] << 8) | frame[n - 1]);
    // The checksum test of the link: over the whole frame with its checksum, 0 when good.
    const bool good = Crc16Xmodem(frame, static_cast<uint16_t>(n)) == 0;
    const std::string crc =
        "crc " + Hex4(got) +
        (good ? " ok" : " bad, want " + Hex4(Crc16Xmodem(frame, static_cast<uint16_t>(n - 2))));

    // DLE US code DLE STX data DLE ETX crc crc
    const bool laidOut = n >= 9 && frame[0] == DLE && frame[1] == US && frame[3] == DLE && frame[4] == STX &&
                         frame[n - 4] == DLE && frame[n - 3] == ETX;
    if (!laidOut) return "frame malformed " + TraceQuoted(frame, n - 2) + " " + crc;

    std::string text = "frame fn=" + TraceHex(frame + 2, 1);
    if (const char* name = FunctionName(frame[2])) text += std::string(" ") + name;
    return text + " " + DescribeFields(frame + 5, n - 9) + " " + crc;
}

bool TraceFrameDecoder::Store(uint8_t b, std::string* lines) {
    if (length_ == MAX_FRAME) {
        *lines += "frame dropped: no DLE ETX within " + std::to_string(MAX_FRAME) + " bytes\n";
        stage_ = Stage::Outside;
        length_ = 0;
        dle_ = false;
        return false;
    }
    frame_[length_++] = b;
    return true;
}

void TraceFrameDecoder::Feed(const uint8_t* bytes, std::size_t n, std::string* lines) {
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        switch (stage_) {
            case Stage::Crc1:
                if (Store(b, lines)) stage_ = Stage::Crc2;
                continue;
            case Stage::Crc2:
                if (!Store(b, lines)) continue;
                *lines += DescribeFrame(frame_, length_) + "\n";
                stage_ = Stage::Outside;
                length_ = 0;
                dle_ = false;
                continue;
            case Stage::Outside:
            case Stage::Data:
                break;
        }
        if (b == SOH) {
            // The DLE before the SOH belongs to neither frame; the link keeps its DLE flag.
            const std::size_t cut = length_ > 0 && dle_ ? length_ - 1 : length_;
            if (stage_ == Stage::Data && cut > 0) {
                *lines += "frame cut short after " + std::to_string(cut) + " bytes by a new SOH\n";
            }
            stage_ = Stage::Data;
            length_ = 0;
            continue;
        }
        if (stage_ == Stage::Outside) {
            dle_ = b == DLE;
            continue;
        }
        const bool ends = b == ETX && dle_;
        dle_ = b == DLE;
        if (Store(b, lines) && ends) stage_ = Stage::Crc1;
    }
}

std::string TraceLine(int64_t micros, const std::string& port, char direction, const std::string& text) {
    if (micros < 0) micros = 0;
    char time[32];
    std::snprintf(time, sizeof time, "%10" PRId64 ".%03d", micros / 1000, static_cast<int>(micros % 1000));
    std::string line = time;
    if (!port.empty()) {
        line += ' ';
        // The label is one word of plain ASCII: blanks and control bytes in a device name would
        // shift the columns, and bytes above 0x7F (a name in UTF-8, or in no encoding at all) are
        // written as \xHH.
        for (char c : port) {
            const unsigned char u = static_cast<unsigned char>(c);
            if (u >= 0x80) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(u));
                line += hex;
            } else {
                line += u <= 0x20 || u == 0x7F ? '_' : c;
            }
        }
    }
    line += ' ';
    line += direction;
    line += ' ';
    line += text;
    line += '\n';
    return line;
}

LineTraceWriter::LineTraceWriter(std::FILE* out) : out_(out), startMicros_(MonotonicMicros()) {}

int64_t LineTraceWriter::ElapsedMicros() const {
    return MonotonicMicros() - startMicros_;
}

bool LineTraceWriter::Write(const std::string& lines) {
    if (lines.empty() || out_ == nullptr) return true;
    fw::Lock lock(mutex_);
    const bool written = std::fwrite(lines.data(), 1, lines.size(), out_) == lines.size();
    // Flushed at once: a trace is read when something went wrong, often after a crash or a kill.
    const bool flushed = std::fflush(out_) == 0;
    if (!written || !flushed) good_ = false;
    return true;
}

bool LineTraceWriter::Good() {
    fw::Lock lock(mutex_);
    return good_;
}

PortTrace::PortTrace(std::string port, bool decodeFrames)
    : port_(std::move(port)), decodeFrames_(decodeFrames) {}

std::string PortTrace::Bytes(int64_t micros, char direction, const uint8_t* data, std::size_t n) {
    if (n == 0) return std::string();
    std::string text = TraceLine(micros, port_, direction, TraceHex(data, n));
    if (!decodeFrames_) return text;
    std::string frames;
    (direction == TRACE_SENT ? sent_ : received_).Feed(data, n, &frames);
    std::size_t start = 0;
    while (start < frames.size()) {
        const std::size_t end = frames.find('\n', start);
        text += TraceLine(micros, port_, direction, frames.substr(start, end - start));
        start = end + 1;
    }
    return text;
}

std::string PortTrace::Event(int64_t micros, const std::string& text) const {
    return TraceLine(micros, port_, TRACE_EVENT, text);
}

}  // namespace adapter
