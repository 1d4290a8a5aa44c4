#include "configurator/ParameterTable.h"

#include <algorithm>
#include <cstring>

namespace configurator {

namespace {

const ParamColumnInfo kColumns[PARAM_COLUMN_COUNT] = {
    {"Параметр", 73}, {"Индекс", 50}, {"Значение", 90}, {"Единицы", 60}, {" Наименование", 225},
};

// Parameter 052 has 99 entries; their index texts "00" to "98".
constexpr int kTaskEntries = 99;
constexpr int kFirstTaskRow = 5;

struct IndexTexts {
    char text[kTaskEntries][3];
};

constexpr IndexTexts MakeIndexTexts() {
    IndexTexts t{};
    for (int k = 0; k < kTaskEntries; ++k) {
        t.text[k][0] = static_cast<char>('0' + k / 10);
        t.text[k][1] = static_cast<char>('0' + k % 10);
        t.text[k][2] = '\0';
    }
    return t;
}

constexpr IndexTexts kIndexTexts = MakeIndexTexts();

const char* const kFirstNames[kFirstTaskRow + 1] = {
    "Спецификация внешнего оборудования",
    "Идентификатор для радиообмена",
    "Версия адаптера",
    "Номер адаптера",
    "Код платы",
    "Периодичность опроса",
};

const char* ParameterText(int row) {
    if (row == 0) return "  003";
    if (row == 1) return "  006";
    if (row <= 4) return "  099";
    return "  052";
}

const char* IndexText(int row) {
    if (row < kFirstTaskRow) return row <= 1 ? kIndexTexts.text[0] : kIndexTexts.text[row - 2];
    return kIndexTexts.text[row - kFirstTaskRow];
}

const char* NameText(int row) {
    if (row <= kFirstTaskRow) return kFirstNames[row];
    return ((row - kFirstTaskRow) % 2 != 0) ? "Задание на чтение параметра" : "Задание на запись параметра";
}

void CopyCut(char* dest, const char* text, int room) {
    const std::size_t n = std::min(std::strlen(text), static_cast<std::size_t>(room - 1));
    std::memcpy(dest, text, n);
    dest[n] = '\0';
}

}  // namespace

ParamColumnInfo ParamColumn(int column) {
    if (column < 0 || column >= PARAM_COLUMN_COUNT) return {nullptr, 0};
    return kColumns[column];
}

const char* StartCellText(int row, int column) {
    if (row < 0 || row >= PARAM_ROW_COUNT) return "";
    switch (column) {
        case adapter::COL_PARAMETER:
            return ParameterText(row);
        case adapter::COL_INDEX:
            return IndexText(row);
        case adapter::COL_VALUE:
            return row == kFirstTaskRow ? "00" : "0000000000";
        case adapter::COL_NAME:
            return NameText(row);
        default:
            return "";
    }
}

ParameterTableModel::ParameterTableModel() {
    Reset();
}

void ParameterTableModel::Reset() {
    for (int row = 0; row < PARAM_ROW_COUNT; ++row) {
        for (int column = 0; column < PARAM_COLUMN_COUNT; ++column) {
            CopyCut(Cell(row, column), StartCellText(row, column), Room(column));
        }
        rows_[row].mark = START_ROW_MARK;
        rows_[row].itemData = row;
    }
}

int ParameterTableModel::Room(int column) {
    switch (column) {
        case adapter::COL_VALUE:
            return VALUE_ROOM;
        case adapter::COL_UNITS:
            return UNITS_ROOM;
        default:
            return FIXED_ROOM;
    }
}

char* ParameterTableModel::Cell(int row, int column) {
    return const_cast<char*>(static_cast<const ParameterTableModel*>(this)->Cell(row, column));
}

const char* ParameterTableModel::Cell(int row, int column) const {
    if (row < 0 || row >= PARAM_ROW_COUNT) return nullptr;
    const Row& r = rows_[row];
    switch (column) {
        case adapter::COL_PARAMETER:
            return r.parameter;
        case adapter::COL_INDEX:
            return r.index;
        case adapter::COL_VALUE:
            return r.value;
        case adapter::COL_UNITS:
            return r.units;
        case adapter::COL_NAME:
            return r.name;
        default:
            return nullptr;
    }
}

int ParameterTableModel::GetText(int row, int column, char* buffer, int size) const {
    const char* cell = Cell(row, column);
    const char* text = cell != nullptr ? cell : "";
    if (buffer != nullptr && size > 0) CopyCut(buffer, text, size);
    return static_cast<int>(std::strlen(text));
}

void ParameterTableModel::SetText(int row, int column, const char* text) {
    char* cell = Cell(row, column);
    if (cell == nullptr || text == nullptr) return;
    CopyCut(cell, text, Room(column));
}

void ParameterTableModel::SetMark(int row, int mark) {
    if (row < 0 || row >= PARAM_ROW_COUNT) return;
    rows_[row].mark = mark;
    rows_[row].itemData = row;
}

const char* ParameterTableModel::Text(int row, int column) const {
    const char* cell = Cell(row, column);
    return cell != nullptr ? cell : "";
}

int ParameterTableModel::Mark(int row) const {
    return (row < 0 || row >= PARAM_ROW_COUNT) ? -1 : rows_[row].mark;
}

int ParameterTableModel::ItemData(int row) const {
    return (row < 0 || row >= PARAM_ROW_COUNT) ? -1 : rows_[row].itemData;
}

}  // namespace configurator
