// The apply step of the port dialog, one per program: reopen the driver's port on the chosen
// list positions, report the outcome in part 1 of the main window's status bar and keep the
// choice in SelectedPortIndex (and, in the loader, SelectedSpeedIndex). The dialog exchanges
// its data with the controls; everything else happens here, so that it runs without a window.
#pragma once

#include <cstdint>
#include <functional>

#include "portselect/PortList.h"
#include "serial/ComDriver.h"

namespace portselect {

// What the apply step needs of its dialog.
class PortApplyHost {
  public:
    virtual ~PortApplyHost() = default;
    // Part 0 or 1 of the main window's status bar; each text replaces the one before.
    virtual void SetStatusText(int part, const char* text) = 0;
    // Data exchange towards the dialog's controls (the positions as the dialog holds them).
    virtual void ShowPositions() = 0;
};

// The port at a list position: PortTable there, or 0 (no port) for a position outside the
// table, such as -1 for no selection or the one after the last entry.
uint16_t PortAtPosition(const int32_t (&portTable)[PORT_TABLE_ENTRIES], int32_t position);

// The configurator's apply: COM_CLOSE, COM_OPEN of the port at `portPosition` at 4800 bit/s,
// 8 data bits, no parity; " Порт выбран", then " Порт занят" (result 1) or
// " Нет подключения к COM-порту" (result 3, and 4: a port the driver cannot use) in part 1; COM_SETLINES 3;
// ShowPositions; SelectedPortIndex = portPosition; then `startAdapterSearch`. Returns COM_OPEN's result.
int ApplyConfiguratorPort(int32_t portPosition, const int32_t (&portTable)[PORT_TABLE_ENTRIES],
                          ComOpenBlock* block, PortApplyHost& host,
                          const std::function<void()>& startAdapterSearch);

// The loader's apply: COM_CLOSE, COM_OPEN of the port at `portPosition` at the speed at
// `speedPosition`, format 8 (8 data bits, no parity), no keying; COM_SETLINES 3; ShowPositions;
// SelectedPortIndex and SelectedSpeedIndex = the two positions; part 1 "COM%d,8,n,%db ", or
// " Порт занят" / " Нет подключения к COM-порту". Returns COM_OPEN's result.
int ApplyLoaderPort(int32_t portPosition, int32_t speedPosition,
                    const int32_t (&portTable)[PORT_TABLE_ENTRIES], ComOpenBlock* block, PortApplyHost& host);

}  // namespace portselect
