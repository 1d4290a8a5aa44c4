#include <windows.h>

namespace fw {

void PlatformDebugOutput(const char* text) {
    ::OutputDebugStringA(text);
}

}  // namespace fw
