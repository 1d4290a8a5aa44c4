// What the adapter exchanges need of the parameter table: its rows' texts and marks.
// The configurator's list view implements it in the program; ParameterTableModel in the core.
#pragma once

namespace adapter {

// Columns of the table.
enum ParamColumn { COL_PARAMETER = 0, COL_INDEX = 1, COL_VALUE = 2, COL_UNITS = 3, COL_NAME = 4 };

// Row marks: images of the row-mark strip.
enum RowMark {
    MARK_ERROR = 0,
    MARK_CHECK = 1,
    MARK_BLANK = 2,
    MARK_PENDING = 3,
    MARK_QUESTION = 4,
    MARK_DOT = 5
};

class ParamTable {
  public:
    virtual ~ParamTable() = default;
    virtual int RowCount() const = 0;
    // Copies the cell's text, cut to size - 1 bytes and zero-terminated; returns its full length.
    virtual int GetText(int row, int column, char* buffer, int size) const = 0;
    virtual void SetText(int row, int column, const char* text) = 0;
    // Column 0 keeps its text; its image becomes the mark; item data = row number.
    virtual void SetMark(int row, int mark) = 0;
};

}  // namespace adapter
