// What krt42 needs of the operating system, one file per platform: the serial port named on the
// command line, the machine's port list, the console, Ctrl-C and the clock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialApi.h"

namespace cli {

// A serial API that reaches the port named on the command line as driver port `*number`.
// Null, with a reason in `*error`, when the name is no port.
std::unique_ptr<serial::SerialApi> SerialApiFor(const std::string& port, unsigned* number,
                                                std::string* error);

// The machine's serial ports, one name a line as the user gives them to --port.
std::vector<std::string> ListPorts();

// The console shows UTF-8 (Windows), Ctrl-C is caught rather than killing the process.
void PrepareConsole();
bool Interrupted();

bool IsTerminal(std::FILE* stream);
int64_t NowMs();  // monotonic
void SleepMs(int milliseconds);

}  // namespace cli
