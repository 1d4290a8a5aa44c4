// The choice of port and speed that a main window and its port dialog share, and the tables
// that a choice points into. Each application owns one Selection and hands it on.
#pragma once

#include <cstdint>

namespace portselect {

// Entries of a main window's PortTable: COM-port numbers, 0 for an empty entry.
constexpr int PORT_TABLE_SIZE = 64;
using PortTable = int32_t[PORT_TABLE_SIZE];

// The line speeds of both programs' speed lists, at positions 0 to 9.
constexpr int SPEED_COUNT = 10;
extern const int32_t SpeedTable[SPEED_COUNT];

struct Selection {
    // Position in the main window's PortTable of the port in use; -1 = none.
    int32_t SelectedPortIndex = -1;
    // Position in SpeedTable: in the configurator the speed at which the search last opened the
    // port (-1 before any search), in the loader the chosen speed.
    int32_t SelectedSpeedIndex = -1;
};

}  // namespace portselect
