// The serial calls over the Windows communications API.
#pragma once

#include "serial/SerialApi.h"

namespace serial {

class Win32SerialApi : public SerialApi {
  public:
    // Whether an open throws away what waits in the port's input (off: the two programs take the
    // port as they find it).
    void SetDiscardInputOnOpen(bool on) { discardInputOnOpen_ = on; }

    PortHandle Open(unsigned number) override;
    void Close(PortHandle port) override;
    bool SetupQueues(PortHandle port, uint32_t inQueue, uint32_t outQueue) override;
    bool GetTimeouts(PortHandle port, CommTimeouts* timeouts) override;
    bool SetTimeouts(PortHandle port, const CommTimeouts& timeouts) override;
    bool GetLineSettings(PortHandle port, LineSettings* settings) override;
    bool SetLineSettings(PortHandle port, const LineSettings& settings) override;
    bool SetEventMask(PortHandle port, uint32_t mask) override;
    bool Escape(PortHandle port, EscapeFunction function) override;
    bool GetModemStatus(PortHandle port, uint32_t* status) override;
    bool Read(PortHandle port, uint8_t* buffer, uint32_t size, uint32_t* got) override;
    bool Write(PortHandle port, const uint8_t* data, uint32_t size, uint32_t* written) override;

  private:
    bool discardInputOnOpen_ = false;
};

}  // namespace serial
