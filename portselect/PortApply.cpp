#include "portselect/PortApply.h"

#include <cstdio>

#include "portselect/Selection.h"

namespace portselect {

namespace {

constexpr uint32_t CONFIGURATOR_SPEED = 4800;
constexpr uint16_t CONFIGURATOR_FORMAT_8N1 = 0;
constexpr uint16_t LOADER_FORMAT_8N1 = 8;
constexpr uint8_t LINES_DTR_RTS = 3;  // DTR on, RTS on, break off
// A speed position without a speed (a combo box without selection gives -1) opens at the
// loader's default speed, 19200 bit/s, as its start-up does, instead of reading beside the table.
constexpr int32_t FALLBACK_SPEED_POSITION = 6;

const char kPortChosen[] = " Порт выбран";
const char kPortBusy[] = " Порт занят";
const char kNoPort[] = " Нет подключения к COM-порту";

// Result 4 (the driver could not make its stop event) leaves a port that must not be used, so it
// is reported like a port that did not open instead of as a port in use.
void ReportOpenFailure(PortApplyHost& host, int result) {
    if (result == 1) host.SetStatusText(1, kPortBusy);
    if (result == 3 || result == 4) host.SetStatusText(1, kNoPort);
}

int OpenPort(ComOpenBlock* block) {
    int result = 0;
    ComDriverCall(COM_CLOSE, &result, nullptr);
    result = 0;
    ComDriverCall(COM_OPEN, &result, block);
    return result;
}

void SetLines() {
    uint8_t lines = LINES_DTR_RTS;
    int result = 0;
    ComDriverCall(COM_SETLINES, &result, &lines);
}

}  // namespace

uint16_t PortAtPosition(const int32_t (&portTable)[PORT_TABLE_ENTRIES], int32_t position) {
    if (position < 0 || position >= PORT_TABLE_ENTRIES) return 0;
    const int32_t port = portTable[position];
    // A number that does not fit the open block's field must not wrap onto a real port.
    return port > 0 && port <= 0xFFFF ? static_cast<uint16_t>(port) : 0;
}

int ApplyConfiguratorPort(int32_t portPosition, const int32_t (&portTable)[PORT_TABLE_ENTRIES],
                          ComOpenBlock* block, PortApplyHost& host,
                          const std::function<void()>& startAdapterSearch) {
    block->port = PortAtPosition(portTable, portPosition);
    block->speed = CONFIGURATOR_SPEED;
    block->format = CONFIGURATOR_FORMAT_8N1;
    block->keying = 0;
    const int result = OpenPort(block);
    host.SetStatusText(1, kPortChosen);
    ReportOpenFailure(host, result);
    SetLines();
    host.ShowPositions();
    SelectedPortIndex = portPosition;
    if (startAdapterSearch) startAdapterSearch();
    return result;
}

int ApplyLoaderPort(int32_t portPosition, int32_t speedPosition,
                    const int32_t (&portTable)[PORT_TABLE_ENTRIES], ComOpenBlock* block,
                    PortApplyHost& host) {
    const int32_t speedAt =
        speedPosition >= 0 && speedPosition < SPEED_COUNT ? speedPosition : FALLBACK_SPEED_POSITION;
    block->port = PortAtPosition(portTable, portPosition);
    block->speed = static_cast<uint32_t>(SpeedTable[speedAt]);
    block->format = LOADER_FORMAT_8N1;
    block->keying = 0;
    const int result = OpenPort(block);
    SetLines();
    host.ShowPositions();
    SelectedPortIndex = portPosition;
    SelectedSpeedIndex = speedPosition;
    char text[40];
    std::snprintf(text, sizeof text, "COM%d,8,n,%db ", static_cast<int>(block->port),
                  static_cast<int>(block->speed));
    host.SetStatusText(1, text);
    ReportOpenFailure(host, result);
    return result;
}

}  // namespace portselect
