#include "portselect/PortOpen.h"

namespace portselect {

namespace {

constexpr uint8_t LINES_DTR_RTS = 3;  // DTR on, RTS on, break off

}  // namespace

uint16_t PortAtPosition(const PortTable& portTable, int32_t position) {
    if (position < 0 || position >= PORT_TABLE_SIZE) return 0;
    const int32_t port = portTable[position];
    return port > 0 && port <= 0xFFFF ? static_cast<uint16_t>(port) : 0;
}

serial::ComResult OpenPortAtPosition(serial::ComDriver& com, const PortTable& portTable, int32_t position,
                                     uint32_t speed, uint16_t format, serial::ComOpenBlock& block,
                                     CloseFirst closeFirst) {
    if (closeFirst == CloseFirst::Yes) com.Command(serial::COM_CLOSE, nullptr);
    block.port = PortAtPosition(portTable, position);
    block.speed = speed;
    block.format = format;
    block.keying = 0;
    return com.Command(serial::COM_OPEN, &block);
}

void RaiseModemLines(serial::ComDriver& com) {
    uint8_t lines = LINES_DTR_RTS;
    com.Command(serial::COM_SETLINES, &lines);
}

}  // namespace portselect
