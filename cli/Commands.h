// krt42's commands over one port or several at once: each port gets its own driver, job and
// 20 ms tick on a thread of its own, so no port waits for another.
#pragma once

#include "cli/Arguments.h"

namespace cli {

// Runs the command of `a` (ports already gathered) and gives the exit code.
int RunCommand(const Arguments& a);

}  // namespace cli
