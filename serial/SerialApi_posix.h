// The serial calls over termios, for the native build: a COM port number maps to a device path.
#pragma once

#include <termios.h>

#include <functional>
#include <string>

#include "serial/SerialApi.h"

namespace serial {

class PosixSerialApi : public SerialApi {
  public:
    using PathOf = std::function<std::string(unsigned number)>;

    // KRT_COM<n> from the environment when set, else /dev/ttyS<n-1>. Port 0 has no device.
    static std::string DefaultPathOf(unsigned number);

    explicit PosixSerialApi(PathOf pathOf = &PosixSerialApi::DefaultPathOf);

    // Software flow control of the output (IXON): an XOFF from the far end holds what this side
    // writes until XON, and the terminal layer takes both bytes out of the input. Off by
    // default, because the configurator's binary frames carry those bytes as data. It applies
    // from the next line setting on, so it is set before the port is opened.
    void SetOutputFlowControl(bool on) { outputFlowControl_ = on; }
    bool OutputFlowControl() const { return outputFlowControl_; }
    // Whether an open throws away what waits in the port's input: bytes from before the open (a
    // late reply to an earlier program) are no answer to anything this side will ask. Off by
    // default: the two programs take the port as they find it.
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

    // The termios speed constant for a rate in bit/s; false for a rate the terminal layer lacks.
    static bool SpeedConstant(uint32_t baudRate, unsigned* constant);
    // ... and back; 0 for an unknown constant.
    static uint32_t BaudRateOf(unsigned constant);
    // The termios side of SetLineSettings: a raw line with the given speed and format. The
    // modem lines are set separately.
    static void ApplyLineSettings(termios& tio, const LineSettings& settings);
    // IXON with the usual XON and XOFF characters, or no output flow control at all.
    static void ApplyOutputFlowControl(termios& tio, bool on);

  private:
    PathOf pathOf_;
    bool outputFlowControl_ = false;
    bool discardInputOnOpen_ = false;
};

}  // namespace serial
