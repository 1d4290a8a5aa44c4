// "Quillon.i": the loader's port and speed positions and the first 16 entries of its port table,
// 76 bytes of little-endian 32-bit integers in the current directory.
#pragma once

#include <cstdint>

namespace loader {

constexpr const char* LOADER_SETTINGS_FILE = "Quillon.i";
constexpr int LOADER_SETTINGS_SIZE = 76;
constexpr int LOADER_STORED_PORTS = 16;

struct LoaderSettings {
    int32_t selectedPortIndex = 0;
    int32_t selectedSpeedIndex = 6;  // 19200 bit/s
    int32_t reserved = 0;            // kept as read
    int32_t portTable[LOADER_STORED_PORTS] = {};
};

// Reads what the file holds: a short file fills the bytes it covers, the rest keeps its value.
// A missing file leaves everything as it was. Returns the number of bytes taken (0 to 76).
int ReadLoaderSettings(const char* path, LoaderSettings* settings);
// Creates or truncates the file and writes all 76 bytes. False when it cannot be written.
bool WriteLoaderSettings(const char* path, const LoaderSettings& settings);

}  // namespace loader
