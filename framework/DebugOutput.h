// The one diagnostic of the programs: a line for the debugger (OutputDebugStringA on Windows).
// Native builds hand it to a hook that tests can set; Windows builds call the hook as well.
#pragma once

namespace fw {

void DebugOutput(const char* text);
using DebugOutputHook = void (*)(const char* text);
DebugOutputHook SetDebugOutputHook(DebugOutputHook hook);

}  // namespace fw
