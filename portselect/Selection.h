// Process-wide choice of port and speed, shared by the main window and the port dialog.
#pragma once

#include <cstdint>

// Position in the main window's PortTable of the port in use; -1 = none.
extern int32_t SelectedPortIndex;
// Position in SpeedTable: in the configurator the speed at which the search last opened the
// port (-1 before any search), in the loader the chosen speed.
extern int32_t SelectedSpeedIndex;

constexpr int SPEED_COUNT = 10;
extern const int32_t SpeedTable[SPEED_COUNT];
