#include "adapter/ParamExchange.h"

#include <cstring>

#include "adapter/LinkTimer.h"
#include "adapter/Requests.h"

namespace adapter {

namespace {

constexpr int kFinalStep = READ_STEP_COUNT;

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

// Every answer opens with its data start, a status field (0 for an answer to take) and the
// parameter number. Returns 0 with pos after the parameter field, or the handler's answer for a
// frame that is not one to take: 2 without a data start, 3 for any other status.
int ReadAnswerHead(const FrameCodec& codec, int framePos, int& pos, int& parameter) {
    pos = codec.FindDataStart(framePos);
    if (pos == 0) return 2;
    if (codec.ReadNumberField(pos) != 0) return 3;
    parameter = codec.ReadNumberField(pos);
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
    host.ConvertOemText(value);
    table.SetMark(row, MARK_BLANK);
    table.SetText(row, COL_VALUE, value);
}

// Units beside the value, only when the answer has any: empty ones leave those shown before.
void ShowUnits(LinkHost& host, ParamTable& table, int row, char* unit) {
    if (unit[0] == '\0') return;
    host.ConvertOemText(unit);
    table.SetText(row, COL_UNITS, unit);
}

}  // namespace

void ParamExchange::StartParameterRead() {
    if (s_.ParamIndex != -1) return;
    s_.ParamIndex = 0;
    RequestParameter(0);
    host_.SetStatusText(0, "Получение параметров ...");
}

void ParamExchange::RequestParameter(int step) {
    if (step == kFinalStep) {
        host_.SetStatusText(0, "Получение данных закончено ");
        s_.TimeoutTicks = DONE_NOTICE_TICKS;
        s_.ParamIndex = -1;
        s_.TimeoutState = DoneNotice;
        return;
    }
    uint8_t request[32];
    BuildReadRequest(step, request, static_cast<int>(sizeof request));
    codec_.SendDleFrame(request);
    s_.TimeoutTicks = ANSWER_TIMEOUT_TICKS;
    s_.TimeoutState = AwaitAnswer;
}

int ParamExchange::OnParamValue(int pos) {
    const FrameReader frame(s_.FrameBuffer, s_.FramePos);
    int p = 0;
    int parameter = 0;
    if (const int refused = ReadAnswerHead(codec_, pos, p, parameter)) return refused;
    p += 2;  // the FF that closes the head and the HT that opens the item

    char value[kFieldRoom];
    frame.TakeText(p, value, kFieldRoom);

    const ParamRows* rows = RowsOfParameter(parameter);
    if (rows == nullptr || !rows->plainAnswer) return 1;
    const int row = rows->firstRow;
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

int ParamExchange::OnArrayValues(int pos) {
    const FrameReader frame(s_.FrameBuffer, s_.FramePos);
    int p = 0;
    int parameter = 0;
    if (const int refused = ReadAnswerHead(codec_, pos, p, parameter)) return refused;
    const int start = codec_.ReadNumberField(p);
    const int count = codec_.ReadNumberField(p);
    if (start == EMPTY_FIELD || count == EMPTY_FIELD) return 1;
    ++p;  // the FF that closes the head

    const ParamRows* rows = RowsOfParameter(parameter);
    if (rows == nullptr || !rows->indexed) return 1;
    const int base = rows->firstRow;

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

int ParamExchange::OnWriteReply(int pos) {
    const FrameReader frame(s_.FrameBuffer, s_.FramePos);
    int p = 0;
    int parameter = 0;
    if (const int refused = ReadAnswerHead(codec_, pos, p, parameter)) return refused;
    const ParamRows* rows = RowsOfParameter(parameter);
    if (rows == nullptr) return 1;
    int start = 0;
    if (rows->indexed) {
        start = codec_.ReadNumberField(p);
        codec_.ReadNumberField(p);  // the count says nothing about the row
    }
    const int64_t row = static_cast<int64_t>(rows->firstRow) + (rows->indexed ? start : 0);
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
    host_.ConvertOemText(text);
    table_->SetMark(static_cast<int>(row), MARK_ERROR);
    table_->SetText(static_cast<int>(row), COL_VALUE, text);
    return 0;
}

bool ParamExchange::WriteParameter(int row) {
    if (table_ == nullptr || row < 0 || row >= table_->RowCount()) return false;

    // Sized for the largest frame that goes out whole, plus its terminating zero; a value that
    // does not fit, or that holds a control byte, is refused rather than cut, so the adapter never
    // gets a value the user did not enter.
    uint8_t request[SEND_FRAME_MAX + 1];
    char value[SEND_FRAME_MAX + 1];
    char index[3] = {};
    const ParamRows& rows = *RowsOfRow(row);
    if (rows.indexed) table_->GetText(row, COL_INDEX, index, sizeof index);
    const int valueLength = table_->GetText(row, COL_VALUE, value, sizeof value);
    if (valueLength >= static_cast<int>(sizeof value) ||
        BuildWriteRequest(rows, index, value, request, static_cast<int>(sizeof request)) < 0) {
        table_->SetMark(row, MARK_ERROR);
        return false;
    }
    if (codec_.SendDleFrame(request) != 0) {
        // The send queue is full: the value did not go out, and the row must not look sent.
        table_->SetMark(row, MARK_ERROR);
        return false;
    }
    return true;
}

void ParamExchange::CommitEdit(int row, bool accepted, const char* edited, const char* original) {
    if (table_ == nullptr) return;
    if (accepted) table_->SetMark(row, MARK_PENDING);
    table_->SetText(row, COL_VALUE, accepted ? edited : original);
    if (accepted) {
        s_.ParamIndex = -1;
        WriteParameter(row);
    }
}

void ParamExchange::NextStep() {
    if (s_.ParamIndex >= 0 && s_.ParamIndex <= kFinalStep - 1) {
        ++s_.ParamIndex;
        RequestParameter(s_.ParamIndex);
    } else {
        s_.ParamIndex = -1;
    }
}

}  // namespace adapter
