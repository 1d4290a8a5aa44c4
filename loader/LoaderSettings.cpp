#include "loader/LoaderSettings.h"

#include <cstdio>
#include <cstring>

namespace loader {

namespace {

void PutLe32(uint8_t* p, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
    p[3] = static_cast<uint8_t>(u >> 24);
}

int32_t GetLe32(const uint8_t* p) {
    uint32_t u = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                 static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    return static_cast<int32_t>(u);
}

void ToBytes(const LoaderSettings& s, uint8_t* bytes) {
    PutLe32(bytes + 0, s.selectedPortIndex);
    PutLe32(bytes + 4, s.selectedSpeedIndex);
    PutLe32(bytes + 8, s.reserved);
    for (int i = 0; i < LOADER_STORED_PORTS; ++i) PutLe32(bytes + 12 + 4 * i, s.portTable[i]);
}

void FromBytes(const uint8_t* bytes, LoaderSettings* s) {
    s->selectedPortIndex = GetLe32(bytes + 0);
    s->selectedSpeedIndex = GetLe32(bytes + 4);
    s->reserved = GetLe32(bytes + 8);
    for (int i = 0; i < LOADER_STORED_PORTS; ++i) s->portTable[i] = GetLe32(bytes + 12 + 4 * i);
}

}  // namespace

int ReadLoaderSettings(const char* path, LoaderSettings* settings) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return 0;
    uint8_t bytes[LOADER_SETTINGS_SIZE];
    // Start from the current values so that a short file changes only the bytes it covers.
    ToBytes(*settings, bytes);
    size_t got = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    FromBytes(bytes, settings);
    return static_cast<int>(got);
}

bool WriteLoaderSettings(const char* path, const LoaderSettings& settings) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    uint8_t bytes[LOADER_SETTINGS_SIZE];
    ToBytes(settings, bytes);
    bool ok = std::fwrite(bytes, 1, sizeof bytes, f) == sizeof bytes;
    return std::fclose(f) == 0 && ok;
}

}  // namespace loader
