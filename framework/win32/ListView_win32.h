// A list view control in report view: columns, items, their texts, images and data.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "framework/win32/Window_win32.h"

namespace fw {

class ListView : public Window {
  public:
    int InsertColumn(int column, const char* title, int width, int format = LVCFMT_LEFT) const;
    int InsertItem(int item, const char* text, int image, LPARAM data) const;
    bool SetItemText(int item, int subItem, const char* text) const;
    // The whole text of a cell, however long.
    std::string ItemText(int item, int subItem) const;
    // Image and item data of an item.
    bool SetImageAndData(int item, int image, LPARAM data) const;
    int ItemCount() const { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }
    UINT ItemState(int item, UINT mask) const {
        return static_cast<UINT>(Send(LVM_GETITEMSTATE, item, mask));
    }
    int ColumnWidth(int column) const { return static_cast<int>(Send(LVM_GETCOLUMNWIDTH, column)); }
    bool ItemPosition(int item, POINT* point) const {
        return Send(LVM_GETITEMPOSITION, item, reinterpret_cast<LPARAM>(point)) != FALSE;
    }
    HIMAGELIST SetImageList(HIMAGELIST list, int kind) const {
        return reinterpret_cast<HIMAGELIST>(Send(LVM_SETIMAGELIST, kind, reinterpret_cast<LPARAM>(list)));
    }
    bool SortItems(PFNLVCOMPARE compare, LPARAM data) const {
        return Send(LVM_SORTITEMS, data, reinterpret_cast<LPARAM>(compare)) != FALSE;
    }
};

}  // namespace fw
