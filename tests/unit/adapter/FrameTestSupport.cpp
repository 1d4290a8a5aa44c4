#include "tests/unit/adapter/FrameTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace adapter_test {

using namespace adapter;

Bytes FrameBody(uint8_t code, const std::string& data) {
    Bytes b = {DLE, SOH, DLE, US, code, DLE, STX};
    b.insert(b.end(), data.begin(), data.end());
    b.push_back(DLE);
    b.push_back(ETX);
    return b;
}

Bytes WireFrame(uint8_t code, const std::string& data) {
    Bytes b = FrameBody(code, data);
    const uint16_t crc = Crc16Xmodem(b.data() + 2, static_cast<uint16_t>(b.size() - 2));
    b.push_back(static_cast<uint8_t>(crc >> 8));
    b.push_back(static_cast<uint8_t>(crc & 0xFF));
    return b;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

LinkUnderTest::LinkUnderTest() : link(std::make_unique<AdapterLink>(host, nullptr, driver, selection)) {
    link->codec.SetHandlers(&handlers);
}

int LinkUnderTest::Feed(const Bytes& bytes) {
    EXPECT_LE(bytes.size(), sizeof link->state.RxChunk);
    if (!bytes.empty()) std::memcpy(link->state.RxChunk, bytes.data(), bytes.size());
    link->state.RxCount = static_cast<int32_t>(bytes.size());
    return link->codec.ReceiveDleBytes();
}

void LinkUnderTest::LoadFrame(const std::string& bytes) {
    std::memcpy(link->state.FrameBuffer, bytes.data(), bytes.size());
    link->state.FramePos = static_cast<int32_t>(bytes.size());
}

}  // namespace adapter_test
