#include "portselect/RegistryPortSource_win32.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace portselect {

RegistryKey::RegistryKey(const char* path) {
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
}

RegistryKey::~RegistryKey() {
    if (key_) ::RegCloseKey(key_);
}

SerialCommPortSource::SerialCommPortSource() : key_("hardware\\devicemap\\serialcomm") {}

PortSourceResult SerialCommPortSource::PortNameAt(uint32_t index, char* name, uint32_t size) {
    if (!key_.Handle()) return SOURCE_END;
    char valueName[PORT_NAME_BUFFER];
    DWORD nameSize = sizeof valueName;
    DWORD dataSize = size;
    DWORD type = 0;
    // A value whose name or data does not fit (ERROR_MORE_DATA) ends the list like its end does.
    const LONG status = ::RegEnumValueA(key_.Handle(), index, valueName, &nameSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &dataSize);
    return status == ERROR_SUCCESS ? SOURCE_NAME : SOURCE_END;
}

RootPortsPortSource::RootPortsPortSource() : key_("Enum\\Root\\Ports") {}

PortSourceResult RootPortsPortSource::PortNameAt(uint32_t index, char* name, uint32_t size) {
    if (!key_.Handle()) return SOURCE_END;
    char subkeyName[PORT_NAME_BUFFER];
    if (::RegEnumKeyA(key_.Handle(), index, subkeyName, sizeof subkeyName) != ERROR_SUCCESS)
        return SOURCE_END;
    HKEY subkey = nullptr;
    if (::RegOpenKeyExA(key_.Handle(), subkeyName, 0, KEY_READ, &subkey) != ERROR_SUCCESS) return SOURCE_SKIP;
    DWORD type = 0;
    DWORD dataSize = size;
    const LONG status =
        ::RegQueryValueExA(subkey, "PORTNAME", nullptr, &type, reinterpret_cast<BYTE*>(name), &dataSize);
    ::RegCloseKey(subkey);
    return status == ERROR_SUCCESS ? SOURCE_NAME : SOURCE_SKIP;
}

int ComboPortList::AddString(const char* text) {
    // CB_ERR and CB_ERRSPACE are negative.
    return static_cast<int>(::SendMessageA(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

void ComboPortList::SetItemData(int index, uint32_t data) {
    ::SendMessageA(combo_, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
}

uint32_t ComboPortList::GetItemData(int index) const {
    const LRESULT data = ::SendMessageA(combo_, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    return data == CB_ERR ? 0 : static_cast<uint32_t>(data);
}

int ComboPortList::GetCount() const {
    const LRESULT count = ::SendMessageA(combo_, CB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<int>(count);
}

int ComboPortList::GetText(int index, char* buffer, int size) const {
    const LRESULT length = ::SendMessageA(combo_, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) return -1;
    // CB_GETLBTEXT knows no buffer size: it gets room for the whole text, which is then cut.
    std::vector<char> text(static_cast<size_t>(length) + 1, 0);
    ::SendMessageA(combo_, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min(std::strlen(text.data()), static_cast<size_t>(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int>(length);
}

}  // namespace portselect
