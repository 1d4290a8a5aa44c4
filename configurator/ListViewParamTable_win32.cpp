#include "configurator/ListViewParamTable_win32.h"

#include <cstring>

#include "configurator/ParameterTable.h"

namespace configurator {

namespace {

constexpr int MARK_WIDTH = 12;
constexpr COLORREF MARK_TRANSPARENT = RGB(255, 0, 255);

int CALLBACK CompareRowNumbers(LPARAM a, LPARAM b, LPARAM) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

bool InTable(int row, int column) {
    return row >= 0 && row < PARAM_ROW_COUNT && column >= 0 && column < PARAM_COLUMN_COUNT;
}

}  // namespace

void ListViewParamTable::Build(fw::ImageList& marks, int bitmapId) {
    if (marks.CreateFromBitmap(bitmapId, MARK_WIDTH, MARK_TRANSPARENT)) {
        marks.SetBackground(::GetSysColor(COLOR_WINDOW));
        list_.SetImageList(marks.Handle(), LVSIL_SMALL);
    }
    for (int c = 0; c < PARAM_COLUMN_COUNT; ++c) {
        ParamColumnInfo info = ParamColumn(c);
        list_.InsertColumn(c, info.title, info.width, LVCFMT_LEFT);
    }
    for (int r = 0; r < PARAM_ROW_COUNT; ++r) {
        int item = list_.InsertItem(r, StartCellText(r, 0), START_ROW_MARK, r);
        for (int c = 1; c < PARAM_COLUMN_COUNT; ++c) list_.SetItemText(item, c, StartCellText(r, c));
    }
    // The list control may refuse a sort while it is busy; the rows must end up in order.
    for (int attempt = 0; attempt < 100 && !list_.SortItems(CompareRowNumbers, 0); ++attempt) {
    }
}

int ListViewParamTable::RowCount() const {
    return PARAM_ROW_COUNT;
}

int ListViewParamTable::GetText(int row, int column, char* buffer, int size) const {
    if (size > 0) buffer[0] = '\0';
    if (!InTable(row, column)) return 0;
    std::string text = list_.ItemText(row, column);
    if (size > 0) {
        size_t n = text.size() < static_cast<size_t>(size - 1) ? text.size() : static_cast<size_t>(size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(text.size());
}

void ListViewParamTable::SetText(int row, int column, const char* text) {
    if (!InTable(row, column)) return;
    list_.SetItemText(row, column, text);
}

void ListViewParamTable::SetMark(int row, int mark) {
    if (!InTable(row, 0)) return;
    list_.SetImageAndData(row, mark, row);
}

int ListViewParamTable::FirstSelectedRow() const {
    for (int r = 0; r < PARAM_ROW_COUNT; ++r) {
        if (list_.ItemState(r, LVIS_SELECTED) & LVIS_SELECTED) return r;
    }
    return -1;
}

}  // namespace configurator
