// The machine's COM ports, as the registry lists them, put into the port dialog's sorted list
// and into the main window's PortTable. Portable: the registry lists and the combo box are
// reached through the two small interfaces below, which the Win32 dialog maps one to one onto
// RegEnumValueA / RegEnumKeyA / RegQueryValueExA and CB_ADDSTRING / CB_SETITEMDATA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "portselect/Selection.h"

namespace portselect {

// Room for a value name, value data or subkey name read from the registry.
constexpr uint32_t PORT_NAME_BUFFER = 50;
// m_port when no port was found and nothing was chosen before: a position no list has.
constexpr int32_t NO_PORT_POSITION = 65;

enum PortSourceResult {
    SOURCE_NAME,  // `name` holds the port name of this entry
    SOURCE_SKIP,  // the entry exists, but its port name cannot be read
    SOURCE_END,   // the enumeration stops here
};

// One registry list of port names, read entry by entry by index.
//  - "hardware\devicemap\serialcomm": RegEnumValueA at the index with a value-name buffer and a
//    data buffer of PORT_NAME_BUFFER bytes each; the data is the port name. Any result other
//    than success (no more values, a name or data that does not fit, a key that did not open)
//    is SOURCE_END.
//  - "Enum\Root\Ports": RegEnumKeyA at the index into PORT_NAME_BUFFER bytes (failure:
//    SOURCE_END), then the subkey's value "PORTNAME" into `name` (failure: SOURCE_SKIP).
class PortSource {
  public:
    virtual ~PortSource() = default;
    // `name` has room for `size` bytes; it need not come back zero-terminated.
    virtual PortSourceResult PortNameAt(uint32_t index, char* name, uint32_t size) = 0;
};

// The dialog's port list: a sorted combo box (CBS_SORT).
class PortListBox {
  public:
    virtual ~PortListBox() = default;
    // CB_ADDSTRING: the position at which the sorted list placed the text, negative on failure.
    virtual int AddString(const char* text) = 0;
    virtual void SetItemData(int index, uint32_t data) = 0;
    // CB_GETITEMDATA: 0 for entries nobody gave data (the template's entries).
    virtual uint32_t GetItemData(int index) const = 0;
    virtual int GetCount() const = 0;
    // CB_GETLBTEXT into `size` bytes, cut and zero-terminated; returns the text's full length.
    virtual int GetText(int index, char* buffer, int size) const = 0;
};

// The list positions that the dialog shows first.
struct PortPreselection {
    int32_t port;   // m_port
    int32_t speed;  // m_speed
};

// False when some entry of the table equals the number, so 0 always counts as present.
bool IsNewPort(const PortTable& portTable, int32_t number);

// The port number in a registry port name, read as "COM%d" reads it: capital "COM", then a
// decimal number (blanks and a sign before it allowed), anything after it ignored. -1 when there
// is no number or it lies outside 0 .. 65535, the port numbers the driver can be given.
int32_t ParsePortName(const char* name);

// Fills the list and the table from the two sources, in this order, and gives the preselection
// from the selection's positions.
PortPreselection FillPortList(PortSource& serialComm, PortSource& rootPorts, PortListBox& list,
                              PortTable& portTable, const Selection& selection);

// A sorted list as the combo box keeps it: ascending text order without regard to case
// (Latin and Cyrillic letters of code page 1251), a text equal to others going after them.
class SortedPortList : public PortListBox {
  public:
    int AddString(const char* text) override;
    void SetItemData(int index, uint32_t data) override;
    uint32_t GetItemData(int index) const override;
    int GetCount() const override { return static_cast<int>(items_.size()); }
    int GetText(int index, char* buffer, int size) const override;

    // Compares two 1251 texts the way the sorted list orders them: <0, 0 or >0.
    static int CompareText(const char* a, const char* b);

  private:
    struct Item {
        std::string text;
        uint32_t data;
    };
    std::vector<Item> items_;
};

}  // namespace portselect
