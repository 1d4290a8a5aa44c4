#include "loader/LoaderPort.h"

#include <cstdio>

#include "portselect/Selection.h"

namespace loader {

int32_t SpeedAt(int32_t speedIndex) {
    if (speedIndex < 0 || speedIndex >= SPEED_COUNT) return SpeedTable[DEFAULT_SPEED_INDEX];
    return SpeedTable[speedIndex];
}

uint16_t PortAt(const int32_t* portTable, int32_t portIndex) {
    if (portIndex < 0 || portIndex >= LOADER_PORT_TABLE_SIZE) return 0;
    // A number that does not fit the open block's field must not wrap onto a real port (65539
    // would open COM3): it opens nothing, as in the port dialog.
    const int32_t port = portTable[portIndex];
    return port > 0 && port <= 0xFFFF ? static_cast<uint16_t>(port) : 0;
}

void ApplyLoaderSettings(const LoaderSettings& settings, int32_t* portTable) {
    SelectedPortIndex = settings.selectedPortIndex;
    // A speed position without a speed would show and store nonsense: it becomes 19200 bit/s.
    SelectedSpeedIndex = settings.selectedSpeedIndex >= 0 && settings.selectedSpeedIndex < SPEED_COUNT
                             ? settings.selectedSpeedIndex
                             : DEFAULT_SPEED_INDEX;
    for (int i = 0; i < LOADER_STORED_PORTS; ++i) portTable[i] = settings.portTable[i];
}

LoaderSettings CollectLoaderSettings(const int32_t* portTable, int32_t reserved) {
    LoaderSettings s;
    s.selectedPortIndex = SelectedPortIndex;
    s.selectedSpeedIndex = SelectedSpeedIndex;
    s.reserved = reserved;
    for (int i = 0; i < LOADER_STORED_PORTS; ++i) s.portTable[i] = portTable[i];
    return s;
}

int OpenSelectedPort(LoaderHost& host, const int32_t* portTable, ComOpenBlock* block) {
    block->port = PortAt(portTable, SelectedPortIndex);
    block->speed = static_cast<uint32_t>(SpeedAt(SelectedSpeedIndex));
    block->format = 8;
    block->keying = 0;
    int result = 0;
    ComDriverCall(COM_OPEN, &result, block);
    char text[64];
    std::snprintf(text, sizeof text, " COM%d,8,n,%db ", static_cast<int>(block->port),
                  static_cast<int>(block->speed));
    host.SetStatusText(1, text);
    if (result == 1) host.SetStatusText(1, " Порт занят");
    // Result 4 leaves no usable port (the driver could not make its stop event): said as in the
    // port dialog, not left as the settings of a port that is open.
    if (result == 3 || result == 4) host.SetStatusText(1, " Нет подключения к COM-порту");
    uint8_t lines = 3;  // DTR on, RTS on, break off
    int linesResult = 0;
    ComDriverCall(COM_SETLINES, &linesResult, &lines);
    return result;
}

}  // namespace loader
