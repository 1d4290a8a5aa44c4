// The parameter table over the main window's list view: row r is item r, since the rows are
// kept in row-number order; the row mark is the item's image, the row number its item data.
#pragma once

#include <string>

#include "adapter/ParamTable.h"
#include "framework/win32/ImageList_win32.h"
#include "framework/win32/ListView_win32.h"

namespace configurator {

class ListViewParamTable : public adapter::ParamTable {
  public:
    explicit ListViewParamTable(fw::ListView& list) : list_(list) {}

    // Marks from bitmap `bitmapId`, the five columns and the 104 start rows, sorted by row number.
    void Build(fw::ImageList& marks, int bitmapId);

    int RowCount() const override;
    int GetText(int row, int column, char* buffer, int size) const override;
    void SetText(int row, int column, const char* text) override;
    void SetMark(int row, int mark) override;

    std::string Text(int row, int column) const { return list_.ItemText(row, column); }
    // The lowest-numbered selected row, or -1.
    int FirstSelectedRow() const;

  private:
    fw::ListView& list_;
};

}  // namespace configurator
