#include "portselect/PortApply.h"

#include <cstdio>

namespace portselect {

namespace {

constexpr uint32_t CONFIGURATOR_SPEED = 4800;
constexpr uint16_t CONFIGURATOR_FORMAT_8N1 = 0;
constexpr uint16_t LOADER_FORMAT_8N1 = 8;
// A speed position without a speed (a combo box without selection gives -1) opens at the
// loader's default speed, 19200 bit/s, as its start-up does, instead of reading beside the table.
constexpr int32_t FALLBACK_SPEED_POSITION = 6;

const char kPortChosen[] = " Порт выбран";
const char kPortBusy[] = " Порт занят";
const char kNoPort[] = " Нет подключения к COM-порту";

// A port the driver could not make its stop event for must not be used: it is reported like a
// port that did not open, not as a port in use.
void ReportOpenFailure(PortApplyHost& host, serial::ComResult result) {
    if (result == serial::COM_PORT_IN_USE) host.SetStatusText(1, kPortBusy);
    if (result == serial::COM_NOT_OPENED || result == serial::COM_NOT_USABLE) host.SetStatusText(1, kNoPort);
}

}  // namespace

serial::ComResult ApplyConfiguratorPort(const ApplyTarget& target, int32_t portPosition,
                                        serial::ComOpenBlock& block, PortApplyHost& host,
                                        const std::function<void()>& startAdapterSearch) {
    const serial::ComResult result = OpenPortAtPosition(target.com, target.portTable, portPosition,
                                                        CONFIGURATOR_SPEED, CONFIGURATOR_FORMAT_8N1, block);
    host.SetStatusText(1, kPortChosen);
    ReportOpenFailure(host, result);
    RaiseModemLines(target.com);
    host.ShowPositions();
    target.selection.SelectedPortIndex = portPosition;
    if (startAdapterSearch) startAdapterSearch();
    return result;
}

serial::ComResult ApplyLoaderPort(const ApplyTarget& target, int32_t portPosition, int32_t speedPosition,
                                  serial::ComOpenBlock& block, PortApplyHost& host) {
    const int32_t speedAt =
        speedPosition >= 0 && speedPosition < SPEED_COUNT ? speedPosition : FALLBACK_SPEED_POSITION;
    const serial::ComResult result =
        OpenPortAtPosition(target.com, target.portTable, portPosition,
                           static_cast<uint32_t>(SpeedTable[speedAt]), LOADER_FORMAT_8N1, block);
    RaiseModemLines(target.com);
    host.ShowPositions();
    target.selection.SelectedPortIndex = portPosition;
    target.selection.SelectedSpeedIndex = speedPosition;
    char text[40];
    std::snprintf(text, sizeof text, "COM%d,8,n,%db ", static_cast<int>(block.port),
                  static_cast<int>(block.speed));
    host.SetStatusText(1, text);
    ReportOpenFailure(host, result);
    return result;
}

}  // namespace portselect
