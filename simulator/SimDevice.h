// The simulator's end of the line: a pseudo-terminal whose slave a program opens through a
// symlink, or a real serial device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "simulator/SimEngine.h"

namespace sim {

class SimDevice {
  public:
    SimDevice() = default;
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;
    ~SimDevice();

    // A new pty, owned by this process (it must already lead its own session), with linkPath
    // pointed at the slave. ixon: software flow control on the slave's input, set before any
    // program opens it.
    bool OpenPty(const std::string& linkPath, bool ixon, std::string& error);
    // A real device, raw 8N1 at speed.
    bool OpenTty(const std::string& device, int speed, std::string& error);

    // The fd to read and write, -1 while unplugged.
    int Fd() const { return fd_; }
    // The slave (or device) path.
    const std::string& Path() const { return path_; }

    LineInfo Line(int want);
    // Stops (or lets go on) what the program writes, as an XOFF does on a line with software flow
    // control, whatever flow control the program has chosen for its end of a pty.
    void HoldProgramOutput(bool hold);
    bool SetSpeed(int bps, std::string& error);
    void Unplug();
    // On success detail is the new path.
    bool Replug(std::string& detail);
    // Removes the link when it still points at this device.
    void Close();

  private:
    bool MakePty(std::string& error);
    bool PointLink(std::string& error);
    bool ConfigureTty(int speed, std::string& error);
    int SettingsFd() const { return isPty_ ? slave_ : fd_; }

    bool isPty_ = false;
    bool ixon_ = false;
    int fd_ = -1;     // pty master or the device
    int slave_ = -1;  // kept open: without it the master reads EIO once the program closes
    int ttySpeed_ = 0;
    std::string link_;
    std::string path_;
};

}  // namespace sim
