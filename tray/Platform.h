// What krt42 and the station need of the operating system, one file per platform: the serial port named on
// the command line, the machine's port list, the console, the signals, files and the clock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialApi.h"

namespace tray {

// A serial API that reaches the port named on the command line as driver port `*number`.
// Null, with a reason in `*error`, when the name is no port. `outputFlowControl`: an XOFF from the
// adapter holds our output until XON (the loader's line; the configurator's binary frames may
// hold those bytes, so its line keeps software flow control off).
std::unique_ptr<serial::SerialApi> SerialApiFor(const std::string& port, bool outputFlowControl,
                                                unsigned* number, std::string* error);
// Why a port that did not open cannot be used, when the system can tell (no such device, no
// permission and how to get it); empty when it cannot.
std::string PortTrouble(const std::string& port);

// The machine's serial ports, each name as the user gives it to --port.
std::vector<std::string> ListPorts();

// First thing at start: descriptors 0 to 2 lead somewhere (so no port or file is ever opened on
// them), Ctrl-C and the ending signals are caught, and the console shows UTF-8. False in
// `*stdoutOpen` when standard output was closed when we started.
void PrepareProcess(bool* stdoutOpen);
// The console's own code page back (Windows); called on every way out of main.
void RestoreConsole();
// The command line as UTF-8 words, the program name first.
std::vector<std::string> CommandLine(int argc, char** argv);

// The signal that asked us to stop (2 for Ctrl-C, 1 hang-up, 15 terminate), 0 while none did.
int StopSignal();
inline bool Interrupted() {
    return StopSignal() != 0;
}

bool IsTerminal(std::FILE* stream);
int64_t NowMs();  // monotonic
void SleepMs(int milliseconds);

// Files named on the command line (UTF-8 names).
enum class FileKind { Missing, Directory, Regular, Other };
FileKind KindOf(const std::string& path, int64_t* size);

// What a name given for writing leads to, symbolic links followed: `*resolved` gets the name of
// what is written in the end (for a link to nothing yet, the name it points at).
enum class TargetKind { Absent, Regular, Directory, Terminal, Fifo, Device, Other };
TargetKind TargetOf(const std::string& path, std::string* resolved);
// The device a port name leads to ("" when the name is no port).
std::string PortDevice(const std::string& port);
// Whether two names lead to the same existing file or device.
bool SameFile(const std::string& a, const std::string& b);
// Whether standard output (1) or standard error (2) is that file or device.
bool StandardStreamIs(int stream, const std::string& path);
// Standard error to nowhere: what would be said there must not reach where it leads.
void SilenceStandardError();
// A device or FIFO opened for writing as it is, with no new file made and nothing truncated.
// Null when it does not open (a FIFO without a reader waits; a signal ends the wait).
std::FILE* OpenInPlace(const std::string& path);
// A new file beside `target`, for writing, under a name nobody else uses; null when the folder
// cannot take it (the reason in `*error`).
std::FILE* CreateTempBeside(const std::string& target, std::string* tempPath, std::string* error);
// Puts `temp` in the place of `target` in one step.
bool MoveIntoPlace(const std::string& temp, const std::string& target, std::string* error);
void RemoveFile(const std::string& path);
std::FILE* OpenForReading(const std::string& path);
// A file written as things happen (a line trace), made anew.
std::FILE* OpenForWriting(const std::string& path);
// The name the core's file calls take (the ANSI code page on Windows).
std::string CorePath(const std::string& path);
// The last system error as text.
std::string LastErrorText();
// Where the station keeps its state by default: $XDG_STATE_HOME/krt42, else ~/.local/state/krt42
// (Windows: %LOCALAPPDATA%\krt42).
std::string DefaultStateDir();

}  // namespace tray
