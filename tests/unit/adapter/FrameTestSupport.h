// Shared pieces of the frame tests: a link over a recording host, handlers that note each
// dispatch, and a builder for frames as the adapter sends them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "adapter/AdapterLink.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"
#include "tests/support/FakeSerialApi.h"

namespace adapter_test {

using Bytes = std::vector<uint8_t>;

class QuietHost : public adapter::LinkHost {
  public:
    void SetStatusText(int, const char*) override {}
    void EnableReadButton(bool) override {}
    void EnablePortButton(bool) override {}
    void PostLinkMessage(uint32_t) override {}
};

struct Dispatch {
    int code;  // function code whose handler ran
    int pos;   // position it was given
};

class RecordingHandlers : public adapter::FrameHandlers {
  public:
    int OnParamValue(int pos) override { return Note(adapter::FN_PARAM_VALUE, pos); }
    int OnArrayValues(int pos) override { return Note(adapter::FN_ARRAY_VALUES, pos); }
    int OnWriteReply(int pos) override { return Note(adapter::FN_WRITE_REPLY, pos); }

    std::vector<Dispatch> calls;
    int answer = 0;

  private:
    int Note(int code, int pos) {
        calls.push_back({code, pos});
        return answer;
    }
};

// DLE SOH DLE US code DLE STX data DLE ETX, without checksum.
Bytes FrameBody(uint8_t code, const std::string& data);
// The same with its checksum, as it appears on the wire.
Bytes WireFrame(uint8_t code, const std::string& data);
Bytes Concat(const Bytes& a, const Bytes& b);

// A link with the recording handlers installed; large, so it lives on the heap.
struct LinkUnderTest {
    LinkUnderTest();
    // Puts the bytes into RxChunk as one driver read and runs the assembler.
    int Feed(const Bytes& bytes);
    // Sets FrameBuffer/FramePos directly, for the field readers.
    void LoadFrame(const std::string& bytes);

    QuietHost host;
    RecordingHandlers handlers;
    krt_test::FakeSerialApi api;
    serial::ComDriver driver{serial::ComVariant::Configurator, api};  // with no port open
    portselect::Selection selection;
    std::unique_ptr<adapter::AdapterLink> link;
};

}  // namespace adapter_test
