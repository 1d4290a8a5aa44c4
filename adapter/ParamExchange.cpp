// The parameter read sequence, the answer handlers that fill the table, and the write request.
#include <cstring>

#include "adapter/AdapterLink.h"

namespace adapter {

namespace {

// The requests of the six read steps, up to their ETX, zero-terminated.
const uint8_t kReadParam003[] = {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30,
                                 0x09, 0x30, 0x30, 0x33, 0x0C, 0x10, 0x03, 0x00};
const uint8_t kReadParam006[] = {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30,
                                 0x09, 0x30, 0x30, 0x36, 0x0C, 0x10, 0x03, 0x00};
const uint8_t kReadParam099[] = {0x10, 0x01, 0x10, 0x1F, 0x1D, 0x10, 0x02, 0x09, 0x30,
                                 0x09, 0x30, 0x39, 0x39, 0x0C, 0x10, 0x03, 0x00};
const uint8_t kReadArray099At1[] = {0x10, 0x01, 0x10, 0x1F, 0x0C, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39,
                                    0x39, 0x09, 0x31, 0x09, 0x30, 0x30, 0x31, 0x0C, 0x10, 0x03, 0x00};
const uint8_t kReadArray099At2[] = {0x10, 0x01, 0x10, 0x1F, 0x0C, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x39,
                                    0x39, 0x09, 0x32, 0x09, 0x30, 0x30, 0x31, 0x0C, 0x10, 0x03, 0x00};
const uint8_t kReadArray052All[] = {0x10, 0x01, 0x10, 0x1F, 0x0C, 0x10, 0x02, 0x09, 0x30, 0x09, 0x30, 0x35,
                                    0x32, 0x09, 0x30, 0x09, 0x30, 0x39, 0x39, 0x0C, 0x10, 0x03, 0x00};

const uint8_t* const kReadSteps[] = {kReadParam003,    kReadParam006,    kReadParam099,
                                     kReadArray099At1, kReadArray099At2, kReadArray052All};

constexpr int kFinalStep = 6;
constexpr int kAnswerTicks = 100;  // 2 s
constexpr int kNoticeTicks = 150;  // 3 s

// Room for a text field: a field can never be longer than the frame buffer.
constexpr int kFieldRoom = FRAME_BUFFER_SIZE + 1;

// Reads the frame being handled without ever leaving its filled part.
class FrameReader {
  public:
    FrameReader(const uint8_t* buffer, int32_t framePos)
        : buffer_(buffer),
          end_(framePos < 0 ? 0 : (framePos > FRAME_BUFFER_SIZE ? FRAME_BUFFER_SIZE : framePos)) {}

    // The byte at pos, or -1 past the end of the frame.
    int At(int pos) const { return (pos >= 0 && pos < end_) ? buffer_[pos] : -1; }

    // Copies the bytes from pos up to the next HT or FF or the end into text (zero-terminated)
    // and leaves pos on that HT or FF (or at the end).
    void TakeText(int& pos, char* text, int room) const {
        int n = 0;
        for (int b = At(pos); b >= 0 && b != HT && b != FF; b = At(++pos)) {
            if (n < room - 1) text[n++] = static_cast<char>(b);
        }
        text[n] = '\0';
    }

    void SkipText(int& pos) const {
        for (int b = At(pos); b >= 0 && b != HT && b != FF; b = At(++pos)) {
        }
    }

  private:
    const uint8_t* buffer_;
    int end_;
};

// Appends bytes to the write request; refuses anything that would not fit.
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
    bool Overflow() const { return overflow_; }
    int Length() const { return length_; }

  private:
    uint8_t* buffer_;
    int room_;
    int length_ = 0;
    bool overflow_ = false;
};

// Every answer opens with its data start, a status field (0 for an answer to take) and the
// parameter number. Returns 0 with pos after the parameter field, or the handler's answer for a
// frame that is not one to take: 2 without a data start, 3 for any other status.
int ReadAnswerHead(const AdapterLink& link, int framePos, int& pos, int& parameter) {
    pos = link.FindDataStart(framePos);
    if (pos == 0) return 2;
    if (link.ReadNumberField(pos) != 0) return 3;
    parameter = link.ReadNumberField(pos);
    return 0;
}

// One part of an array item, each possibly cut short by an FF: false, with that FF passed, when
// the item has ended before the part; otherwise the HT before it passed and its text taken (or
// skipped when text is null), pos left on the HT or FF after it.
bool TakeItemPart(const FrameReader& frame, int& pos, char* text) {
    if (frame.At(pos) == FF) {
        ++pos;
        return false;
    }
    if (frame.At(pos) == HT) ++pos;
    if (text != nullptr) {
        frame.TakeText(pos, text, kFieldRoom);
    } else {
        frame.SkipText(pos);
    }
    return true;
}

// A value that came in, shown unmarked.
void ShowValue(LinkHost& host, ParamTable& table, int row, char* value) {
    host.OemToAnsi(value);
    table.SetMark(row, MARK_BLANK);
    table.SetText(row, COL_VALUE, value);
}

// Units beside the value, only when the answer has any: empty ones leave those shown before.
void ShowUnits(LinkHost& host, ParamTable& table, int row, char* unit) {
    if (unit[0] == '\0') return;
    host.OemToAnsi(unit);
    table.SetText(row, COL_UNITS, unit);
}

}  // namespace

void AdapterLink::StartParameterRead() {
    if (ParamIndex != -1) return;
    ParamIndex = 0;
    RequestParameter(0);
    host_.SetStatusText(0, "Получение параметров ...");
}

void AdapterLink::RequestParameter(int step) {
    if (step == kFinalStep) {
        host_.SetStatusText(0, "Получение данных закончено ");
        TimeoutTicks = kNoticeTicks;
        ParamIndex = -1;
        TimeoutState = DoneNotice;
        return;
    }
    const uint8_t* request = (step >= 1 && step < kFinalStep) ? kReadSteps[step] : kReadSteps[0];
    SendDleFrame(request);
    TimeoutTicks = kAnswerTicks;
    TimeoutState = AwaitAnswer;
}

int AdapterLink::OnParamValue(int pos) {
    const FrameReader frame(FrameBuffer, FramePos);
    int p = 0;
    int parameter = 0;
    if (const int refused = ReadAnswerHead(*this, pos, p, parameter)) return refused;
    p += 2;  // the FF that closes the head and the HT that opens the item

    char value[kFieldRoom];
    frame.TakeText(p, value, kFieldRoom);

    int row;
    switch (parameter) {
        case 3:
            row = 0;
            break;
        case 6:
            row = 1;
            break;
        case 99:
            row = 2;
            break;
        default:
            return 1;
    }
    if (table_ == nullptr || row >= table_->RowCount()) return 1;

    ShowValue(host_, *table_, row, value);

    if (frame.At(p) == HT) {
        ++p;
    } else if (frame.At(p) == FF) {
        return 0;
    }
    char unit[kFieldRoom];
    frame.TakeText(p, unit, kFieldRoom);
    ShowUnits(host_, *table_, row, unit);
    return 0;
}

int AdapterLink::OnArrayValues(int pos) {
    const FrameReader frame(FrameBuffer, FramePos);
    int p = 0;
    int parameter = 0;
    if (const int refused = ReadAnswerHead(*this, pos, p, parameter)) return refused;
    const int start = ReadNumberField(p);
    const int count = ReadNumberField(p);
    if (start == EMPTY_FIELD || count == EMPTY_FIELD) return 1;
    ++p;  // the FF that closes the head

    int base;
    switch (parameter) {
        case 52:
            base = 5;
            break;
        case 99:
            base = 2;
            break;
        default:
            return 1;
    }

    char value[kFieldRoom];
    char unit[kFieldRoom];
    for (int j = 0; j < count; ++j) {
        // Field digits below '0' count negative, so a row can come out below 0 as well.
        const int64_t row = static_cast<int64_t>(start) + j + base;
        value[0] = '\0';
        unit[0] = '\0';

        // HT value HT unit HT one more field FF, each part possibly cut short by an FF.
        if (TakeItemPart(frame, p, value) && TakeItemPart(frame, p, unit) &&
            TakeItemPart(frame, p, nullptr)) {
            if (frame.At(p) == HT || frame.At(p) == FF) ++p;
        }

        if (table_ == nullptr || row < 0 || row >= table_->RowCount()) return 1;
        const int r = static_cast<int>(row);
        ShowValue(host_, *table_, r, value);
        ShowUnits(host_, *table_, r, unit);
    }
    return 0;
}

int AdapterLink::OnWriteReply(int pos) {
    const FrameReader frame(FrameBuffer, FramePos);
    int p = 0;
    int parameter = 0;
    if (const int refused = ReadAnswerHead(*this, pos, p, parameter)) return refused;
    int start = 0;
    if (parameter == 52 || parameter == 99) {
        start = ReadNumberField(p);
        ReadNumberField(p);  // the count says nothing about the row
    }

    int64_t row;
    switch (parameter) {
        case 3:
            row = 0;
            break;
        case 6:
            row = 1;
            break;
        case 52:
            row = static_cast<int64_t>(start) + 5;
            break;
        case 99:
            row = static_cast<int64_t>(start) + 2;
            break;
        default:
            return 1;
    }
    const bool inTable = table_ != nullptr && row >= 0 && row < table_->RowCount();

    p += 2;  // the FF that closes the head and the HT that opens the item
    if (frame.At(p) == FF) {
        if (inTable) table_->SetMark(static_cast<int>(row), MARK_BLANK);
        return 0;
    }

    // The text is the item's value (HT text FF). Some replies carry an empty value first
    // (HT HT text FF): the extra HT is stepped over, but never a letter of the text.
    if (frame.At(p) == HT) ++p;
    char text[kFieldRoom];
    frame.TakeText(p, text, kFieldRoom);
    if (!inTable) return 1;
    host_.OemToAnsi(text);
    table_->SetMark(static_cast<int>(row), MARK_ERROR);
    table_->SetText(static_cast<int>(row), COL_VALUE, text);
    return 0;
}

bool AdapterLink::WriteParameter(int row) {
    if (table_ == nullptr || row < 0 || row >= table_->RowCount()) return false;

    // Sized for the largest frame that goes out whole, plus its terminating zero; a value that
    // does not fit is refused rather than cut, so the adapter never gets a value the user did
    // not enter.
    uint8_t request[SEND_FRAME_MAX + 1];
    char value[SEND_FRAME_MAX + 1];
    RequestBuilder out(request, static_cast<int>(sizeof request));

    const bool indexed = row >= 2;
    out.Put(DLE);
    out.Put(SOH);
    out.Put(DLE);
    out.Put(US);
    out.Put(indexed ? FN_ARRAY_VALUES : FN_PARAM_VALUE);
    out.Put(DLE);
    out.Put(STX);
    out.Put(HT);
    out.Put("0");
    out.Put(HT);
    if (row == 0) {
        out.Put("003");
    } else if (row == 1) {
        out.Put("006");
    } else {
        out.Put(row <= 4 ? "099" : "052");
        out.Put(HT);
        char index[3] = {};
        table_->GetText(row, COL_INDEX, index, sizeof index);
        out.Put(index);
        out.Put(HT);
        out.Put("1");
    }
    out.Put(FF);
    out.Put(HT);

    const int valueLength = table_->GetText(row, COL_VALUE, value, sizeof value);
    if (valueLength >= static_cast<int>(sizeof value)) {
        table_->SetMark(row, MARK_ERROR);
        return false;
    }
    out.Put(value);
    out.Put(FF);
    out.Put(DLE);
    out.Put(ETX);
    if (out.Overflow() || out.Length() > SEND_FRAME_MAX) {
        table_->SetMark(row, MARK_ERROR);
        return false;
    }
    out.Put(static_cast<uint8_t>(0));
    if (SendDleFrame(request) != 0) {
        // The send queue is full: the value did not go out, and the row must not look sent.
        table_->SetMark(row, MARK_ERROR);
        return false;
    }
    return true;
}

}  // namespace adapter
