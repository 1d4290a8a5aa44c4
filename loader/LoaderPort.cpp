#include "loader/LoaderPort.h"

#include <cstdio>

#include "portselect/PortOpen.h"

namespace loader {

namespace {

constexpr uint16_t kFormat8N1 = 8;

}  // namespace

int32_t SpeedAt(int32_t speedIndex) {
    if (speedIndex < 0 || speedIndex >= portselect::SPEED_COUNT)
        return portselect::SpeedTable[DEFAULT_SPEED_INDEX];
    return portselect::SpeedTable[speedIndex];
}

void ApplyLoaderSettings(const LoaderSettings& settings, portselect::Selection& selection,
                         portselect::PortTable& portTable) {
    selection.SelectedPortIndex = settings.selectedPortIndex;
    // A speed position without a speed would show and store nonsense: it becomes 19200 bit/s.
    selection.SelectedSpeedIndex =
        settings.selectedSpeedIndex >= 0 && settings.selectedSpeedIndex < portselect::SPEED_COUNT
            ? settings.selectedSpeedIndex
            : DEFAULT_SPEED_INDEX;
    for (int i = 0; i < LOADER_STORED_PORTS; ++i) portTable[i] = settings.portTable[i];
}

LoaderSettings CollectLoaderSettings(const portselect::Selection& selection,
                                     const portselect::PortTable& portTable, int32_t reserved) {
    LoaderSettings s;
    s.selectedPortIndex = selection.SelectedPortIndex;
    s.selectedSpeedIndex = selection.SelectedSpeedIndex;
    s.reserved = reserved;
    for (int i = 0; i < LOADER_STORED_PORTS; ++i) s.portTable[i] = portTable[i];
    return s;
}

serial::ComResult OpenSelectedPort(LoaderHost& host, serial::ComDriver& com,
                                   const portselect::PortTable& portTable,
                                   const portselect::Selection& selection, serial::ComOpenBlock& block) {
    // Nothing is open yet at start-up: no close first.
    const serial::ComResult result =
        portselect::OpenPortAtPosition(com, portTable, selection.SelectedPortIndex,
                                       static_cast<uint32_t>(SpeedAt(selection.SelectedSpeedIndex)),
                                       kFormat8N1, block, portselect::CloseFirst::No);
    char text[64];
    std::snprintf(text, sizeof text, " COM%d,8,n,%db ", static_cast<int>(block.port),
                  static_cast<int>(block.speed));
    host.SetStatusText(1, text);
    if (result == serial::COM_PORT_IN_USE) host.SetStatusText(1, " Порт занят");
    // A port without its stop event leaves no usable port: said as in the port dialog, not left
    // as the settings of a port that is open.
    if (result == serial::COM_NOT_OPENED || result == serial::COM_NOT_USABLE) {
        host.SetStatusText(1, " Нет подключения к COM-порту");
    }
    portselect::RaiseModemLines(com);
    return result;
}

}  // namespace loader
