#include "portselect/PortList.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "portselect/Selection.h"

namespace portselect {

bool IsNewPort(const PortTable& portTable, int32_t number) {
    for (int32_t entry : portTable) {
        if (entry == number) return false;
    }
    return true;
}

int32_t ParsePortName(const char* name) {
    if (name == nullptr || std::strncmp(name, "COM", 3) != 0) return -1;
    const char* p = name + 3;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return -1;
    // A negative number or one beyond 16 bits would reach the driver as some other port.
    int32_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + (*p - '0');
        if (number > 0xFFFF) return -1;
    }
    if (negative && number != 0) return -1;
    return number;
}

namespace {

bool Recorded(const int32_t* ports, int n, uint32_t data) {
    for (int i = 0; i < n; ++i) {
        if (static_cast<uint32_t>(ports[i]) == data) return true;
    }
    return false;
}

}  // namespace

PortPreselection FillPortList(PortSource& serialComm, PortSource& rootPorts, PortListBox& list,
                              PortTable& portTable, const Selection& selection) {
    for (int32_t& entry : portTable) entry = 0;
    int n = 0;
    PortSource* const sources[] = {&serialComm, &rootPorts};
    for (PortSource* source : sources) {
        for (uint32_t index = 0;; ++index) {
            // One byte more than the source may fill keeps the name terminated, whatever the
            // registry held.
            char name[PORT_NAME_BUFFER + 1] = {};
            const PortSourceResult result = source->PortNameAt(index, name, PORT_NAME_BUFFER);
            if (result == SOURCE_END) break;
            if (result == SOURCE_SKIP) continue;
            const int32_t number = ParsePortName(name);
            if (number < 0 || !IsNewPort(portTable, number) || n == PORT_TABLE_SIZE) continue;
            portTable[n++] = number;
            char text[16];
            std::snprintf(text, sizeof text, "COM%02d", static_cast<int>(number));
            const int pos = list.AddString(text);
            if (pos >= 0) list.SetItemData(pos, static_cast<uint32_t>(number));
        }
    }

    // The dialog turns a list position into a port by reading PortTable there, so the table
    // follows the list's order: position k of the list names PortTable[k]. For ports up to 99
    // that is ascending numeric order; COM100 and up sort by text (COM100 between COM10 and
    // COM11) and keep their place in step with the list all the same. Entries without a port
    // (the configurator's "не выбран") meet a 0.
    int32_t found[PORT_TABLE_SIZE];
    std::memcpy(found, portTable, sizeof found);
    for (int32_t& entry : portTable) entry = 0;
    int lastPos = PORT_TABLE_SIZE;
    const int count = list.GetCount();
    for (int pos = 0; pos < count; ++pos) {
        const uint32_t data = list.GetItemData(pos);
        if (data == 0 || !Recorded(found, n, data)) continue;
        if (pos < PORT_TABLE_SIZE) portTable[pos] = static_cast<int32_t>(data);
        lastPos = pos;
    }

    // Without an earlier choice the dialog offers the position just after the COM entries (the
    // configurator's "не выбран"; none in the loader). It is taken from the finished list, as
    // a position handed out while adding moves on when a smaller name comes later (COM10
    // before COM2 would otherwise preselect COM10).
    PortPreselection preselection;
    preselection.port = selection.SelectedPortIndex != -1 ? selection.SelectedPortIndex : lastPos + 1;
    preselection.speed = selection.SelectedSpeedIndex;
    return preselection;
}

namespace {

// Case folding of code page 1251 letters: Latin A-Z, Cyrillic А-Я and Ё.
unsigned char Fold(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
    if (c >= 0xC0 && c <= 0xDF) return static_cast<unsigned char>(c + 0x20);
    if (c == 0xA8) return 0xB8;
    return c;
}

}  // namespace

int SortedPortList::CompareText(const char* a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    for (;; ++p, ++q) {
        const int d = Fold(*p) - Fold(*q);
        if (d != 0 || *p == 0) return d;
    }
}

int SortedPortList::AddString(const char* text) {
    if (text == nullptr) return -1;
    size_t pos = 0;
    while (pos < items_.size() && CompareText(items_[pos].text.c_str(), text) <= 0) ++pos;
    items_.insert(items_.begin() + static_cast<long>(pos), Item{text, 0});
    return static_cast<int>(pos);
}

void SortedPortList::SetItemData(int index, uint32_t data) {
    if (index >= 0 && index < GetCount()) items_[static_cast<size_t>(index)].data = data;
}

uint32_t SortedPortList::GetItemData(int index) const {
    return index >= 0 && index < GetCount() ? items_[static_cast<size_t>(index)].data : 0;
}

int SortedPortList::GetText(int index, char* buffer, int size) const {
    if (index < 0 || index >= GetCount()) return -1;
    const std::string& text = items_[static_cast<size_t>(index)].text;
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int>(text.size());
}

}  // namespace portselect
