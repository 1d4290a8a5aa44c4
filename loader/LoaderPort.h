// The loader's port at start-up: the stored choice applied, the port opened at the chosen speed.
#pragma once

#include <cstdint>

#include "loader/LoadProcedure.h"
#include "loader/LoaderSettings.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"

namespace loader {

constexpr int DEFAULT_SPEED_INDEX = 6;  // 19200 bit/s

// The speed at a position of the speed table; a position outside it (a settings file can hold
// anything) gives 19200 bit/s rather than a read beyond the table.
int32_t SpeedAt(int32_t speedIndex);

// Settings file <-> the selection and the window's port table (entries 16..63 are not stored).
void ApplyLoaderSettings(const LoaderSettings& settings, portselect::Selection& selection,
                         portselect::PortTable& portTable);
LoaderSettings CollectLoaderSettings(const portselect::Selection& selection,
                                     const portselect::PortTable& portTable, int32_t reserved);

// Opens the selected port with format 8 (8N1) and no keying, shows " COM%d,8,n,%db " or the
// failure in status pane 1, and raises DTR and RTS whatever the result. Returns COM_OPEN's result.
serial::ComResult OpenSelectedPort(LoaderHost& host, serial::ComDriver& com,
                                   const portselect::PortTable& portTable,
                                   const portselect::Selection& selection, serial::ComOpenBlock& block);

}  // namespace loader
