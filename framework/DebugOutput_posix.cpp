#include <atomic>

#include "framework/DebugOutput.h"

namespace fw {

namespace {

std::atomic<DebugOutputHook> g_debugHook{nullptr};

}  // namespace

void DebugOutput(const char* text) {
    DebugOutputHook hook = g_debugHook.load();
    if (hook != nullptr) hook(text);
}

DebugOutputHook SetDebugOutputHook(DebugOutputHook hook) {
    return g_debugHook.exchange(hook);
}

}  // namespace fw
