// The fixed content of the configurator's parameter table: its columns and its 104 rows as
// they stand at start, and a portable table over fixed storage with the same rows.
#pragma once

#include "adapter/ParamTable.h"

namespace configurator {

constexpr int PARAM_ROW_COUNT = 104;
constexpr int PARAM_COLUMN_COUNT = 5;

struct ParamColumnInfo {
    const char* title;
    int width;  // pixels
};

// Title and width of a column, 0 to 4; nullptr title outside.
ParamColumnInfo ParamColumn(int column);

// The text a cell holds when the table is built; "" outside the table.
const char* StartCellText(int row, int column);

// Every row starts with this mark.
constexpr int START_ROW_MARK = adapter::MARK_BLANK;

// The table in plain memory: 104 rows of texts and marks, filled with the start content.
// Texts longer than a column's room are cut; the value column holds a whole frame's worth.
class ParameterTableModel : public adapter::ParamTable {
  public:
    static constexpr int VALUE_ROOM = 8192;
    static constexpr int UNITS_ROOM = 512;
    static constexpr int FIXED_ROOM = 96;  // parameter, index and name columns

    ParameterTableModel();

    // Puts every row back to its start content.
    void Reset();

    int RowCount() const override { return PARAM_ROW_COUNT; }
    int GetText(int row, int column, char* buffer, int size) const override;
    void SetText(int row, int column, const char* text) override;
    void SetMark(int row, int mark) override;

    // The cell's text; "" outside the table.
    const char* Text(int row, int column) const;
    // The row's mark; -1 outside the table.
    int Mark(int row) const;
    // The row number kept with the row when its mark was last set; -1 outside the table.
    int ItemData(int row) const;

  private:
    char* Cell(int row, int column);
    const char* Cell(int row, int column) const;
    static int Room(int column);

    struct Row {
        char parameter[FIXED_ROOM];
        char index[FIXED_ROOM];
        char value[VALUE_ROOM];
        char units[UNITS_ROOM];
        char name[FIXED_ROOM];
        int mark;
        int itemData;
    };
    Row rows_[PARAM_ROW_COUNT];
};

}  // namespace configurator
