// Where each parameter's elements stand in the table, and the one builder of the requests that
// the configurator sends: the six reads and the write of a row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace adapter {

// The table's rows of one parameter of the adapter.
struct ParamRows {
    int parameter;       // 3, 6, 99 or 52
    const char* digits;  // as requests write it: "003"
    int firstRow;        // the row of element 0
    bool indexed;        // array reads, array answers and writes by element
    bool plainAnswer;    // a plain answer (element 0) is taken into firstRow
};

// The parameter whose rows hold `row` (the one with the last first row not above it); null for
// a row below 0.
const ParamRows* RowsOfRow(int row);
// The entry of a parameter number; null for a parameter the table does not show.
const ParamRows* RowsOfParameter(int parameter);

constexpr int READ_STEP_COUNT = 6;

// Builds the zero-terminated request of read step 0..5 (a step outside gives step 0's);
// returns its length without the zero. `room` of 32 bytes is enough for every step.
int BuildReadRequest(int step, uint8_t* out, int room);

// Builds the zero-terminated write request of a value for the parameter of `rows`, element
// `indexText` (indexed parameters only). Returns the length without the zero, or -1 when the
// frame would not fit in `room` bytes with its zero or the value holds a byte that a frame's data
// cannot carry (then nothing is built).
int BuildWriteRequest(const ParamRows& rows, const char* indexText, const char* value, uint8_t* out,
                      int room);

// Position (0-based) of the first byte a frame's data cannot carry, or -1.
// The data is printable text: HT and FF mark its fields and DLE frames it, so any byte below
// 0x20 or DEL would cut or break the frame. Bytes from 0x80 up are Windows-1251 letters.
int FirstUnsendableByte(const char* value, size_t length);

}  // namespace adapter
