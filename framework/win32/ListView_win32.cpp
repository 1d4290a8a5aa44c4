#include "framework/win32/ListView_win32.h"

#include <vector>

namespace fw {

int ListView::InsertColumn(int column, const char* title, int width, int format) const {
    LVCOLUMNA c = {};
    c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    c.fmt = format;
    c.cx = width;
    c.pszText = const_cast<char*>(title);
    c.iSubItem = column;
    return static_cast<int>(Send(LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&c)));
}

int ListView::InsertItem(int item, const char* text, int image, LPARAM data) const {
    LVITEMA it = {};
    it.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    it.iItem = item;
    it.pszText = const_cast<char*>(text);
    it.iImage = image;
    it.lParam = data;
    return static_cast<int>(Send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it)));
}

bool ListView::SetItemText(int item, int subItem, const char* text) const {
    LVITEMA it = {};
    it.iSubItem = subItem;
    it.pszText = const_cast<char*>(text);
    return Send(LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&it)) != FALSE;
}

std::string ListView::ItemText(int item, int subItem) const {
    // LVM_GETITEMTEXT tells only how much it copied: grow until the text fits with room over.
    std::vector<char> buffer(256);
    for (;;) {
        LVITEMA it = {};
        it.iSubItem = subItem;
        it.pszText = buffer.data();
        it.cchTextMax = static_cast<int>(buffer.size());
        int got = static_cast<int>(Send(LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&it)));
        if (got < 0) got = 0;
        if (static_cast<size_t>(got) + 1 < buffer.size() || buffer.size() >= (1u << 20)) {
            return std::string(buffer.data(), static_cast<size_t>(got));
        }
        buffer.resize(buffer.size() * 4);
    }
}

bool ListView::SetImageAndData(int item, int image, LPARAM data) const {
    LVITEMA it = {};
    it.mask = LVIF_IMAGE | LVIF_PARAM;
    it.iItem = item;
    it.iImage = image;
    it.lParam = data;
    return Send(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it)) != FALSE;
}

}  // namespace fw
