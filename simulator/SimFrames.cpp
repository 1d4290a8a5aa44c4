#include "simulator/SimFrames.h"

#include <cstdio>

#include "adapter/AdapterLink.h"

namespace sim {

using adapter::DLE;
using adapter::ETX;
using adapter::SOH;
using adapter::STX;
using adapter::US;

Bytes BuildFrame(uint8_t code, const std::string& data) {
    // Built a byte at a time: GCC 12's optimiser takes a range insert into a vector made from an
    // initialiser list for a write out of bounds (-Warray-bounds).
    Bytes f;
    f.reserve(data.size() + 11);
    for (uint8_t b : {DLE, SOH, DLE, US, code, DLE, STX}) f.push_back(b);
    for (char c : data) f.push_back(static_cast<uint8_t>(c));
    f.push_back(DLE);
    f.push_back(ETX);
    const uint16_t crc = adapter::Crc16Xmodem(f.data() + 2, static_cast<uint16_t>(f.size() - 2));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    return f;
}

std::string HexDump(const uint8_t* bytes, std::size_t n) {
    std::string s;
    s.reserve(n * 3);
    char hex[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", bytes[i]);
        s += hex;
    }
    return s;
}

std::string Utf8ToCp866(const std::string& utf8) {
    std::string out;
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        const uint8_t c = static_cast<uint8_t>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Decode one sequence; anything malformed counts as one unknown character per byte.
        int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        uint32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len != 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            const uint8_t cc = static_cast<uint8_t>(utf8[i + k]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        i += len;
        if (cp >= 0x0410 && cp <= 0x043F) {
            out += static_cast<char>(0x80 + (cp - 0x0410));  // А..п
        } else if (cp >= 0x0440 && cp <= 0x044F) {
            out += static_cast<char>(0xE0 + (cp - 0x0440));  // р..я
        } else if (cp == 0x0401) {
            out += static_cast<char>(0xF0);  // Ё
        } else if (cp == 0x0451) {
            out += static_cast<char>(0xF1);  // ё
        } else if (cp == 0x2116) {
            out += static_cast<char>(0xFC);  // №
        } else {
            out += '?';
        }
    }
    return out;
}

void RequestAssembler::Start() {
    body_.clear();
    state_ = Body;
}

std::size_t RequestAssembler::TakeNoiseCount() {
    const std::size_t n = noise_;
    noise_ = 0;
    return n;
}

RequestAssembler::Result RequestAssembler::Feed(uint8_t b) {
    switch (state_) {
        case Hunt:
            if (b == DLE) {
                state_ = HuntDle;
            } else {
                ++noise_;
            }
            return None;
        case HuntDle:
            if (b == SOH) {
                Start();
            } else if (b == DLE) {
                ++noise_;
            } else {
                noise_ += 2;
                state_ = Hunt;
            }
            return None;
        case Body:
        case BodyDle:
            if (state_ == BodyDle && b == SOH) {
                // A new frame begins inside this one: the torn one is dropped.
                noise_ += body_.size() + 1;
                Start();
                return None;
            }
            body_.push_back(b);
            if (state_ == BodyDle && b == ETX) {
                state_ = Crc1;
                return None;
            }
            state_ = b == DLE ? BodyDle : Body;
            if (body_.size() > MAX_BODY) {
                noise_ += body_.size() + 2;
                body_.clear();
                state_ = Hunt;
            }
            return None;
        case Crc1:
            crcHi_ = b;
            state_ = Crc2;
            return None;
        case Crc2:
            state_ = Hunt;
            frame_.raw.assign({DLE, SOH});
            frame_.raw.insert(frame_.raw.end(), body_.begin(), body_.end());
            frame_.raw.push_back(crcHi_);
            frame_.raw.push_back(b);
            return Finish();
    }
    return None;
}

RequestAssembler::Result RequestAssembler::Finish() {
    const uint16_t want = static_cast<uint16_t>((crcHi_ << 8) | frame_.raw.back());
    if (adapter::Crc16Xmodem(body_.data(), static_cast<uint16_t>(body_.size())) != want) return BadCrc;
    // DLE US code DLE STX ... DLE ETX: seven bytes at least.
    if (body_.size() < 7 || body_[0] != DLE || body_[1] != US || body_[3] != DLE || body_[4] != STX)
        return Malformed;
    frame_.code = body_[2];
    frame_.data.assign(body_.begin() + 5, body_.end() - 2);
    return Good;
}

}  // namespace sim
