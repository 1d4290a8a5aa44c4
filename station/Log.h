// The station's log: one line per event on standard error, where the journal takes it.
#pragma once

#include <string>

namespace station {

void Log(const std::string& line);

}  // namespace station
