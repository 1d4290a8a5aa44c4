#include "tests/unit/adapter/LinkRig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace adapter_test {

using namespace adapter;

void RecordingHost::SetStatusText(int part, const char* text) {
    ASSERT_TRUE(part == 0 || part == 1) << "status part " << part;
    status[part].push_back(text);
}

Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string Hex(const Bytes& bytes) {
    std::string out;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X ", b);
        out += two;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

// The requests carry no DLE in their data, so a frame ends two bytes after its DLE ETX.
std::vector<Bytes> SplitFrames(const Bytes& wire) {
    std::vector<Bytes> frames;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < wire.size(); ++i) {
        if (wire[i] == DLE && wire[i + 1] == ETX) {
            const std::size_t end = std::min(wire.size(), i + 4);
            frames.emplace_back(wire.begin() + static_cast<long>(start),
                                wire.begin() + static_cast<long>(end));
            start = end;
            i = end - 1;
        }
    }
    if (start < wire.size()) frames.emplace_back(wire.begin() + static_cast<long>(start), wire.end());
    return frames;
}

LinkRig::LinkRig() {
    table = std::make_unique<configurator::ParameterTableModel>();
    link = std::make_unique<AdapterLink>(host, table.get(), driver, selection);
    selection.SelectedPortIndex = 1;
    selection.SelectedSpeedIndex = -1;
    link->state.PortTable[0] = 1;
    link->state.PortTable[1] = static_cast<int32_t>(kPort);
    link->state.PortTable[2] = 4;
}

LinkRig::~LinkRig() {
    driver.Command(serial::COM_CLOSE, nullptr);
}

void LinkRig::Settle() {
    ASSERT_TRUE(krt_test::WaitUntilNotBusy(driver)) << "write worker never ended";
    const Bytes wire = api.Written(kPort);
    if (wire.size() <= seen_) return;
    const Bytes fresh(wire.begin() + static_cast<long>(seen_), wire.end());
    seen_ = wire.size();
    const uint32_t speed = api.PortSettings(kPort).baudRate;
    for (const Bytes& frame : SplitFrames(fresh)) {
        requests_.push_back({frame, speed});
        if (adapter) adapter(requests_.back());
    }
}

void LinkRig::DeliverPosted() {
    while (!host.posted.empty()) {
        const uint32_t message = host.posted.front();
        host.posted.erase(host.posted.begin());
        host.delivered.push_back({tick, message});
        EXPECT_TRUE(link->HandleLinkMessage(message)) << "message " << message;
        Settle();
    }
}

void LinkRig::Tick() {
    ++tick;
    link->OnLinkTimer();
    Settle();
    DeliverPosted();
}

void LinkRig::Ticks(int n) {
    for (int i = 0; i < n; ++i) Tick();
}

bool LinkRig::TickUntil(const std::function<bool()>& condition, int limit) {
    for (int i = 0; i < limit; ++i) {
        if (condition()) return true;
        Tick();
    }
    return condition();
}

void LinkRig::Receive(const Bytes& bytes) {
    ASSERT_LE(bytes.size(), static_cast<std::size_t>(RX_TAKE_MAX));
    std::memcpy(link->state.RxChunk, bytes.data(), bytes.size());
    link->state.RxCount = static_cast<int32_t>(bytes.size());
    link->state.RxPending = 1;
    EXPECT_TRUE(link->HandleLinkMessage(CM_RECEIVED));
    Settle();
}

int LinkRig::LoadFrame(const Bytes& wire) {
    // The assembler keeps everything after the SOH.
    const std::size_t skip = (wire.size() >= 2 && wire[1] == SOH) ? 2 : 0;
    const std::size_t n = wire.size() - skip;
    std::memcpy(link->state.FrameBuffer, wire.data() + skip, n);
    link->state.FramePos = static_cast<int32_t>(n);
    return 3;  // DLE US code
}

}  // namespace adapter_test
