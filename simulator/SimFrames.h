// The adapter's side of the framed line: request frames assembled from the byte stream, answer
// frames built with their checksum, and the small text helpers the simulated adapter needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

// Whole frame on the wire: DLE SOH DLE US code DLE STX data DLE ETX crc-hi crc-lo.
Bytes BuildFrame(uint8_t code, const std::string& data);

// "10 01 1F" style dump for the log.
std::string HexDump(const uint8_t* bytes, std::size_t n);
inline std::string HexDump(const Bytes& b) {
    return HexDump(b.data(), b.size());
}

// The adapter speaks the OEM code page 866. Texts given to the simulator (command line, stdin)
// are UTF-8; Cyrillic, Ё/ё and № map to 866, other non-ASCII characters become '?'.
std::string Utf8ToCp866(const std::string& utf8);

struct RequestFrame {
    uint8_t code = 0;
    std::string data;  // bytes between DLE STX and DLE ETX
    Bytes raw;         // the whole frame as received, from DLE SOH to the second checksum byte
};

// Assembles request frames byte by byte. A DLE SOH starts a frame wherever it appears, so a torn
// frame or line noise costs only the frame it hit; the checksum and the layout decide the rest.
class RequestAssembler {
  public:
    enum Result {
        None,       // byte taken, nothing complete
        Good,       // Frame() holds a checked frame
        BadCrc,     // a complete frame failed its checksum; Frame().raw holds it
        Malformed,  // checksum fine, but not DLE US code DLE STX data DLE ETX
    };

    // Longest body accepted; a longer run without DLE ETX is dropped and the hunt starts again.
    static constexpr std::size_t MAX_BODY = 8192;

    Result Feed(uint8_t b);
    const RequestFrame& Frame() const { return frame_; }
    // Bytes seen outside any frame (noise) since the last call.
    std::size_t TakeNoiseCount();

  private:
    enum State { Hunt, HuntDle, Body, BodyDle, Crc1, Crc2 };
    void Start();
    Result Finish();

    State state_ = Hunt;
    Bytes body_;  // from the DLE of DLE US through the ETX
    uint8_t crcHi_ = 0;
    std::size_t noise_ = 0;
    RequestFrame frame_;
};

}  // namespace sim
