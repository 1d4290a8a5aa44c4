// The Win32 side of the port enumeration: the two registry lists of port names and the dialog's
// sorted combo box, behind the interfaces that FillPortList works on. Windows builds only.
#pragma once

#include <windows.h>

#include "portselect/PortList.h"

namespace portselect {

// A registry key under HKEY_LOCAL_MACHINE, opened read-only for the object's life. A key that
// does not exist is an empty list.
class RegistryKey {
  public:
    explicit RegistryKey(const char* path);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Handle() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// The values of "hardware\devicemap\serialcomm": each value's data is a port name.
class SerialCommPortSource : public PortSource {
  public:
    SerialCommPortSource();
    PortSourceResult PortNameAt(uint32_t index, char* name, uint32_t size) override;

  private:
    RegistryKey key_;
};

// The subkeys of "Enum\Root\Ports": each subkey's value "PORTNAME" is a port name.
class RootPortsPortSource : public PortSource {
  public:
    RootPortsPortSource();
    PortSourceResult PortNameAt(uint32_t index, char* name, uint32_t size) override;

  private:
    RegistryKey key_;
};

// A combo box of the dialog as the port list.
class ComboPortList : public PortListBox {
  public:
    explicit ComboPortList(HWND combo) : combo_(combo) {}
    int AddString(const char* text) override;
    void SetItemData(int index, uint32_t data) override;
    uint32_t GetItemData(int index) const override;
    int GetCount() const override;
    int GetText(int index, char* buffer, int size) const override;

  private:
    HWND combo_;
};

}  // namespace portselect
