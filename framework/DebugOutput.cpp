#include "framework/DebugOutput.h"

#include <atomic>

namespace fw {

// The platform's own debugger output: OutputDebugStringA on Windows, nothing elsewhere.
void PlatformDebugOutput(const char* text);

namespace {

std::atomic<DebugOutputHook> g_debugHook{nullptr};

}  // namespace

void DebugOutput(const char* text) {
    DebugOutputHook hook = g_debugHook.load();
    if (hook != nullptr) hook(text);
    PlatformDebugOutput(text);
}

DebugOutputHook SetDebugOutputHook(DebugOutputHook hook) {
    return g_debugHook.exchange(hook);
}

}  // namespace fw
