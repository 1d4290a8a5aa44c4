#include "adapter/Requests.h"

#include <cstring>

#include "adapter/LinkState.h"

namespace adapter {

namespace {

// In the order of their first rows: rows 0 and 1 are the plain parameters, 2 to 4 the elements
// 0 to 2 of 099 (version, number, board code), 5 on the elements of 052.
const ParamRows kParamRows[] = {
    {3, "003", 0, false, true},
    {6, "006", 1, false, true},
    {99, "099", 2, true, true},
    {52, "052", 5, true, false},
};

struct ReadStep {
    int parameter;
    const char* start;  // array reads only
    const char* count;
};

const ReadStep kReadSteps[READ_STEP_COUNT] = {
    {3, nullptr, nullptr}, {6, nullptr, nullptr}, {99, nullptr, nullptr},
    {99, "1", "001"},      {99, "2", "001"},      {52, "0", "099"},
};

// Appends bytes to a request; refuses anything that would not fit.
class RequestBuilder {
  public:
    RequestBuilder(uint8_t* buffer, int room) : buffer_(buffer), room_(room) {}

    void Put(uint8_t b) {
        if (length_ < room_) {
            buffer_[length_] = b;
        } else {
            overflow_ = true;
        }
        ++length_;
    }
    void Put(const char* text) {
        for (; *text != '\0'; ++text) Put(static_cast<uint8_t>(*text));
    }
    // DLE SOH DLE US code DLE STX, then the head: HT "0" HT parameter [HT start HT count] FF.
    void Head(uint8_t code, const char* parameter, const char* start, const char* count) {
        const uint8_t opening[] = {DLE, SOH, DLE, US, code, DLE, STX, HT, '0', HT};
        for (uint8_t b : opening) Put(b);
        Put(parameter);
        if (start != nullptr) {
            Put(HT);
            Put(start);
            Put(HT);
            Put(count);
        }
        Put(FF);
    }
    // DLE ETX and the terminating zero; the length without the zero, or -1 when it did not fit.
    int Finish() {
        Put(DLE);
        Put(ETX);
        const int length = length_;
        Put(static_cast<uint8_t>(0));
        return overflow_ ? -1 : length;
    }

  private:
    uint8_t* buffer_;
    int room_;
    int length_ = 0;
    bool overflow_ = false;
};

}  // namespace

const ParamRows* RowsOfRow(int row) {
    const ParamRows* found = nullptr;
    for (const ParamRows& rows : kParamRows) {
        if (rows.firstRow <= row) found = &rows;
    }
    return found;
}

const ParamRows* RowsOfParameter(int parameter) {
    for (const ParamRows& rows : kParamRows) {
        if (rows.parameter == parameter) return &rows;
    }
    return nullptr;
}

int BuildReadRequest(int step, uint8_t* out, int room) {
    const ReadStep& read = kReadSteps[step >= 0 && step < READ_STEP_COUNT ? step : 0];
    RequestBuilder request(out, room);
    request.Head(read.start != nullptr ? FN_READ_ARRAY : FN_READ_PARAM,
                 RowsOfParameter(read.parameter)->digits, read.start, read.count);
    return request.Finish();
}

int FirstUnsendableByte(const char* value, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(value[i]);
        if (b < 0x20 || b == 0x7F) return static_cast<int>(i);
    }
    return -1;
}

int BuildWriteRequest(const ParamRows& rows, const char* indexText, const char* value, uint8_t* out,
                      int room) {
    // The adapter would take a tab or a form feed for the end of the value and store only what
    // stands before it, and a DLE would break the frame: such a value must not go out at all.
    if (FirstUnsendableByte(value, std::strlen(value)) >= 0) return -1;
    RequestBuilder request(out, room);
    if (rows.indexed) {
        request.Head(FN_ARRAY_VALUES, rows.digits, indexText, "1");
    } else {
        request.Head(FN_PARAM_VALUE, rows.digits, nullptr, nullptr);
    }
    request.Put(HT);
    request.Put(value);
    request.Put(FF);
    return request.Finish();
}

}  // namespace adapter
