// The speed search for the adapter, the link timer and the link messages of the main window.
#include <cstdio>

#include "adapter/AdapterLink.h"
#include "portselect/Selection.h"

namespace adapter {

namespace {

// One step of the search: the message that starts it and what it sets.
struct SearchStep {
    uint32_t message;
    int32_t ticks;
    LinkState state;
    int32_t speed;
    int32_t speedIndex;
    const char* text;
};

const SearchStep kSearchSteps[] = {
    {CM_SEARCH_2400, 75, Search2400, 2400, 3, "Поиск на скорости 2400"},
    {CM_SEARCH_4800, 75, Search4800, 4800, 4, "Поиск на скорости 4800"},
    {CM_SEARCH_9600, 50, Search9600, 9600, 5, "Поиск на скорости 9600"},
    {CM_SEARCH_19200, 50, Search19200, 19200, 6, "Поиск на скорости 19200"},
    {CM_SEARCH_38400, 50, Search38400, 38400, 7, "Поиск на скорости 38400"},
    {CM_SEARCH_57600, 50, Search57600, 57600, 8, "Поиск на скорости 57600"},
    {CM_SEARCH_115200, 50, Search115200, 115200, 9, "Поиск на скорости 115200"},
};

// The message posted when the countdown of a state runs out; 0 for none.
uint32_t ExpiryMessage(int8_t state) {
    switch (state) {
        case Search1200:
            return CM_SEARCH_2400;
        case Search2400:
            return CM_SEARCH_4800;
        case Search4800:
            return CM_SEARCH_9600;
        case Search9600:
            return CM_SEARCH_19200;
        case Search19200:
            return CM_SEARCH_38400;
        case Search38400:
            return CM_SEARCH_57600;
        case Search57600:
            return CM_SEARCH_115200;
        case Search115200:
            return CM_SEARCH_FAILED;
        case AwaitAnswer:
            return CM_NO_ANSWER;
        default:
            return 0;
    }
}

}  // namespace

// The settings file may name any position; only one inside the table is looked up, anything
// else counts as "no port" (port 0 opens nothing).
int AdapterLink::CurrentPortNumber() const {
    if (SelectedPortIndex < 0 || SelectedPortIndex >= PORT_TABLE_SIZE) return 0;
    return PortTable[SelectedPortIndex];
}

int AdapterLink::OpenPortAt(int speed) {
    int result = 0;
    ComDriverCall(COM_CLOSE, &result, nullptr);

    int port = CurrentPortNumber();
    // A number that does not fit the open block's field must not wrap onto a real port.
    OpenParams.port = (port > 0 && port <= 0xFFFF) ? static_cast<uint16_t>(port) : 0;
    OpenParams.speed = static_cast<uint32_t>(speed);
    OpenParams.format = 0;
    LineSpeed = speed;

    result = 0;
    ComDriverCall(COM_OPEN, &result, &OpenParams);
    host_.SetStatusText(1, "Порт выбран");
    if (result == 1) {
        host_.SetStatusText(1, "Порт занят");
    } else if (result == 3) {
        host_.SetStatusText(1, "Нет подключения к COM-порту");
    }
    return result;
}

void AdapterLink::StartAdapterSearch() {
    OpenPortAt(1200);
    SelectedSpeedIndex = 2;
    SendDleFrame(PROBE_FRAME);
    host_.SetStatusText(1, "Поиск на скорости 1200");
    TimeoutState = Search1200;
    TimeoutTicks = 100;
}

void AdapterLink::OnLinkTimer() {
    // A frame kept back while the previous write was going out leaves before anything else.
    FlushDueFrames();

    const int8_t state = TimeoutState;
    const uint32_t expiry = ExpiryMessage(state);
    if (expiry != 0 || state == DoneNotice) {
        if (TimeoutTicks > 0) --TimeoutTicks;
        // A countdown that is already out (or was never set) ends at this tick rather than
        // leaving the state stuck.
        if (TimeoutTicks <= 0) {
            TimeoutTicks = 0;
            TimeoutState = Idle;
            if (state == DoneNotice) {
                host_.SetStatusText(0, " ");
            } else {
                host_.PostLinkMessage(expiry);
            }
        }
    } else {
        TimeoutState = Idle;
    }

    if (RxPending == 0) {
        int count = 0;
        ComDriverCall(COM_READ, &count, RxChunk);
        RxCount = count > 0 ? count : 0;
        if (RxCount != 0) {
            RxPending = 1;
            host_.PostLinkMessage(CM_RECEIVED);
        }
    }
}

bool AdapterLink::HandleLinkMessage(uint32_t message) {
    for (const SearchStep& step : kSearchSteps) {
        if (step.message != message) continue;
        host_.SetStatusText(1, "Адаптера нет...");
        TimeoutTicks = step.ticks;
        TimeoutState = step.state;
        OpenPortAt(step.speed);
        SelectedSpeedIndex = step.speedIndex;
        SendDleFrame(PROBE_FRAME);
        host_.SetStatusText(1, step.text);
        return true;
    }

    switch (message) {
        case CM_SEARCH_FAILED:
            host_.EnableControl(IDC_READ_BUTTON, false);
            host_.EnableControl(IDC_PORT_BUTTON, true);
            host_.SetStatusText(1, "Адаптера нет...");
            TimeoutState = Idle;
            // The port stays open at a middle speed with one more probe out: an adapter that
            // answers late is still taken as the connection. The reopen's own "Порт выбран"
            // would leave the user believing all is well; the verdict stays on show unless
            // the reopen itself failed, which is then the more useful news.
            if (OpenPortAt(4800) == 0) host_.SetStatusText(1, "Адаптера нет...");
            SelectedSpeedIndex = 4;
            SendDleFrame(PROBE_FRAME);
            return true;

        case CM_RECEIVED: {
            if (ReceiveDleBytes() != 0) {
                RxPending = 0;
                return true;
            }
            TimeoutTicks = 0;
            TimeoutState = Idle;
            char text[64];
            std::snprintf(text, sizeof text, "Подключение на COM%d (%d)", CurrentPortNumber(),
                          static_cast<int>(LineSpeed));
            host_.SetStatusText(1, text);
            host_.EnableControl(IDC_READ_BUTTON, true);
            host_.EnableControl(IDC_PORT_BUTTON, true);
            if (ParamIndex >= 0 && ParamIndex <= 5) {
                ++ParamIndex;
                RequestParameter(ParamIndex);
            } else {
                ParamIndex = -1;
            }
            RxPending = 0;
            return true;
        }

        case CM_NO_ANSWER:
            host_.SetStatusText(1, "Нет связи...");
            TimeoutState = Idle;
            TimeoutTicks = 0;
            if (ParamIndex >= 0 && ParamIndex <= 5) {
                ++ParamIndex;
                RequestParameter(ParamIndex);
            } else {
                ParamIndex = -1;
            }
            RxPending = 0;
            return true;

        default:
            return false;
    }
}

}  // namespace adapter
