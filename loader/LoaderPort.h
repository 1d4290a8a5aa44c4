// The loader's port at start-up: the stored choice applied, the port opened at the chosen speed.
#pragma once

#include <cstdint>

#include "loader/LoadProcedure.h"
#include "loader/LoaderSettings.h"
#include "serial/ComDriver.h"

namespace loader {

constexpr int LOADER_PORT_TABLE_SIZE = 64;
constexpr int DEFAULT_SPEED_INDEX = 6;  // 19200 bit/s

// The speed at a position of the speed table; a position outside it (a settings file can hold
// anything) gives 19200 bit/s rather than a read beyond the table.
int32_t SpeedAt(int32_t speedIndex);
// The port at a position of the port table; 0 (no port) outside 0..63.
uint16_t PortAt(const int32_t* portTable, int32_t portIndex);

// Settings file <-> process-wide choice and the window's port table (entries 16..63 are not stored).
void ApplyLoaderSettings(const LoaderSettings& settings, int32_t* portTable);
LoaderSettings CollectLoaderSettings(const int32_t* portTable, int32_t reserved);

// Opens the selected port with format 8 (8N1) and no keying, shows " COM%d,8,n,%db " or the
// failure in status pane 1, and sets DTR and RTS on whatever the result. Returns COM_OPEN's result.
int OpenSelectedPort(LoaderHost& host, const int32_t* portTable, ComOpenBlock* block);

}  // namespace loader
