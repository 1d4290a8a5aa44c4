// The one way every part of both programs opens a port: the search at each of its speeds, both
// port dialogs' apply steps and the loader's start-up.
#pragma once

#include <cstdint>

#include "portselect/Selection.h"
#include "serial/ComDriver.h"

namespace portselect {

// The port at a position of PortTable: 0 (no port) for a position outside the table, such as -1
// for no selection or the one after the last entry, and for an entry outside 1..65535, which
// the open block cannot hold and must not wrap onto a real port (65539 is not COM3).
uint16_t PortAtPosition(const PortTable& portTable, int32_t position);

// Whether an open port is closed first: a reopen does, so that the new port or speed takes
// effect; the loader's start-up does not.
enum class CloseFirst { Yes, No };

// Fills `block` (port at `position`, `speed`, `format`, no keying) and opens it. Returns
// COM_OPEN's result.
serial::ComResult OpenPortAtPosition(serial::ComDriver& com, const PortTable& portTable, int32_t position,
                                     uint32_t speed, uint16_t format, serial::ComOpenBlock& block,
                                     CloseFirst closeFirst = CloseFirst::Yes);

// COM_SETLINES with DTR on, RTS on and break off, as the dialogs and the loader leave the lines.
void RaiseModemLines(serial::ComDriver& com);

}  // namespace portselect
