// The apply step of the port dialog, one per program: reopen the driver's port on the chosen
// list positions, report the outcome in part 1 of the main window's status bar and keep the
// choice in the Selection. The dialog exchanges its data with the controls; everything else
// happens here, so that it runs without a window.
#pragma once

#include <cstdint>
#include <functional>

#include "portselect/PortOpen.h"
#include "portselect/Selection.h"
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

// What an apply works on: the driver, the main window's port table and the shared choice.
struct ApplyTarget {
    serial::ComDriver& com;
    PortTable& portTable;
    Selection& selection;
};

// The configurator's apply: the port at `portPosition` reopened at 4800 bit/s, 8 data bits, no
// parity; " Порт выбран", then " Порт занят" or " Нет подключения к COM-порту" (also for a port
// the driver cannot use) in part 1; the modem lines raised; ShowPositions; SelectedPortIndex =
// portPosition; then `startAdapterSearch`. Returns COM_OPEN's result.
serial::ComResult ApplyConfiguratorPort(const ApplyTarget& target, int32_t portPosition,
                                        serial::ComOpenBlock& block, PortApplyHost& host,
                                        const std::function<void()>& startAdapterSearch);

// The loader's apply: the port at `portPosition` reopened at the speed at `speedPosition`,
// format 8 (8 data bits, no parity); the modem lines raised; ShowPositions; the two positions
// kept; part 1 "COM%d,8,n,%db ", or " Порт занят" / " Нет подключения к COM-порту". Returns
// COM_OPEN's result.
serial::ComResult ApplyLoaderPort(const ApplyTarget& target, int32_t portPosition, int32_t speedPosition,
                                  serial::ComOpenBlock& block, PortApplyHost& host);

}  // namespace portselect
