// A main window's link without the window: a recording host, the parameter table in memory and
// the configurator's driver over the scripted serial port, driven tick by tick like the
// window's message loop would (the timer, then every message that it posted).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adapter/AdapterLink.h"
#include "configurator/ParameterTable.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/unit/adapter/FrameTestSupport.h"

namespace adapter_test {

class RecordingHost : public adapter::LinkHost {
  public:
    void SetStatusText(int part, const char* text) override;
    void EnableReadButton(bool enable) override { readButton = enable; }
    void EnablePortButton(bool enable) override { portButton = enable; }
    void PostLinkMessage(uint32_t message) override { posted.push_back(message); }
    void PortOpenFailed(serial::ComResult result) override { openFailures.push_back(result); }

    // Status texts per part, in the order they were set (as the bar's CP1251 bytes).
    std::vector<std::string> status[2];
    bool readButton = false;
    bool portButton = false;
    std::vector<uint32_t> posted;  // not yet delivered
    std::vector<serial::ComResult> openFailures;
    // Every message the loop delivered, with the tick it was posted in.
    std::vector<std::pair<int, uint32_t>> delivered;

    std::string LastStatus(int part) const { return status[part].empty() ? "" : status[part].back(); }
};

// The request frames the link sent, each from DLE SOH to its checksum.
std::vector<Bytes> SplitFrames(const Bytes& wire);
Bytes ToBytes(const std::string& s);
std::string Hex(const Bytes& bytes);

// A request the adapter saw: its bytes and the line speed of the port when it went out.
struct Request {
    Bytes frame;
    uint32_t speed;
};

class LinkRig {
  public:
    static constexpr unsigned kPort = 3;

    LinkRig();
    ~LinkRig();

    // One timer tick and the messages it posted, then waits until the write (if any) is out
    // and lets the adapter answer what it saw.
    void Tick();
    void Ticks(int n);
    // Ticks until the condition holds, at most `limit` ticks; true when it held.
    bool TickUntil(const std::function<bool()>& condition, int limit);
    // Delivers the posted messages as the message loop would.
    void DeliverPosted();
    // Waits for the write worker, then hands every new request to `adapter`.
    void Settle();

    // Puts the bytes into RxChunk as one driver read and handles CM_RECEIVED.
    void Receive(const Bytes& bytes);
    // Places a frame in FrameBuffer as the assembler would leave it (from the byte after SOH).
    // Returns the position just behind the function code.
    int LoadFrame(const Bytes& wire);

    // Requests the link has sent so far.
    const std::vector<Request>& Requests() const { return requests_; }

    krt_test::FakeSerialApi api;
    serial::ComDriver driver{serial::ComVariant::Configurator, api};
    portselect::Selection selection;
    RecordingHost host;
    std::unique_ptr<configurator::ParameterTableModel> table;
    std::unique_ptr<adapter::AdapterLink> link;
    // Called for each request that reached the line; may queue an answer with Answer().
    std::function<void(const Request&)> adapter;
    int tick = 0;

    void Answer(const Bytes& wire) { api.QueueRx(kPort, wire.data(), wire.size()); }

  private:
    std::size_t seen_ = 0;
    std::vector<Request> requests_;
};

}  // namespace adapter_test
