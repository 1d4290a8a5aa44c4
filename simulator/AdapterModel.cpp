#include "simulator/AdapterModel.h"

#include <cstdio>

#include "adapter/AdapterLink.h"

namespace sim {

namespace {

constexpr char HT = static_cast<char>(adapter::HT);
constexpr char FF = static_cast<char>(adapter::FF);

// u8 literals stay UTF-8 whatever the execution character set; the adapter's texts are 866.
std::string Oem(const char* utf8) {
    return Utf8ToCp866(utf8);
}

// The adapter's own refusal when the value itself cannot be stored.
const std::string& BadValueText() {
    static const std::string text = Oem(u8"Недопустимое значение");
    return text;
}

constexpr int kPolling = 52, kIdent = 99, kSpec = 3, kRadioId = 6;
constexpr int kTaskCount = 98;

// A field of decimal digits, as the configurator writes them; anything else is not a number.
bool ParseNumber(const std::string& s, int& out) {
    if (s.empty() || s.size() > 6) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// Data as items: each item is HT field [HT field ...] FF. False when the data do not keep to it.
bool SplitItems(const std::string& data, std::vector<std::vector<std::string>>& items) {
    std::size_t i = 0;
    while (i < data.size()) {
        if (data[i] != HT) return false;
        std::vector<std::string> fields;
        while (i < data.size() && data[i] == HT) {
            ++i;
            std::size_t end = i;
            while (end < data.size() && data[end] != HT && data[end] != FF) ++end;
            fields.emplace_back(data, i, end - i);
            i = end;
        }
        if (i >= data.size() || data[i] != FF) return false;
        ++i;
        items.push_back(std::move(fields));
    }
    return !items.empty();
}

std::string Param3(int p) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03d", p);
    return buf;
}

std::string Decimal(int v, const char* format) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

}  // namespace

AdapterModel::AdapterModel() {
    params_[kSpec] = {{"2", ""}};
    params_[kRadioId] = {{"17", ""}};
    params_[kIdent] = {{"3.05", ""}, {"1207", ""}, {"42", ""}};
    const std::string ms = Oem(u8"мс"), sec = Oem(u8"сек"), pcs = Oem(u8"шт");
    std::vector<Element>& tasks = params_[kPolling];
    tasks.push_back({"500", ms});
    for (int k = 1; k <= kTaskCount; ++k) {
        // A few tasks are set up, the rest are off; read tasks count seconds, write tasks items.
        const bool set = k <= 4;
        if (k % 2) {
            tasks.push_back({set ? Decimal(k * 5, "%d") : "0", sec});
        } else {
            tasks.push_back({set ? Decimal(k, "%d") : "0", pcs});
        }
    }
}

const Element* AdapterModel::Find(int param, int element) const {
    auto it = params_.find(param);
    if (it == params_.end() || element < 0 || element >= static_cast<int>(it->second.size())) return nullptr;
    return &it->second[element];
}

Element* AdapterModel::Find(int param, int element) {
    return const_cast<Element*>(static_cast<const AdapterModel*>(this)->Find(param, element));
}

void AdapterModel::SetRefusal(const std::string& oemText) {
    refusal_.clear();
    // The text travels unescaped inside the frame: control bytes would end or tear it.
    for (char c : oemText) refusal_ += static_cast<uint8_t>(c) < 0x20 ? '?' : c;
}

std::string AdapterModel::ReplyItem(const std::string& why) const {
    if (why.empty()) return std::string{HT, FF};
    return (refusalWithEmptyValue_ ? std::string{HT, HT} : std::string{HT}) + why + FF;
}

std::string AdapterModel::Verdict(const std::string& why) const {
    if (!why.empty()) return " refused";
    return forgetWrites_ ? " accepted (forgotten)" : " accepted";
}

std::string AdapterModel::CheckValue(const std::string& value) const {
    if (!refusal_.empty()) return refusal_;
    if (value.size() > MAX_VALUE) return BadValueText();
    for (char c : value) {
        // Stored values go back out unescaped in answers; a control byte would break them.
        if (static_cast<uint8_t>(c) < 0x20) return BadValueText();
    }
    return {};
}

Outcome AdapterModel::Handle(const RequestFrame& request) {
    std::vector<std::vector<std::string>> items;
    if (!SplitItems(request.data, items)) return {false, 0, {}, "no answer: data not in items"};
    const std::vector<std::string>& head = items[0];
    if (head.size() < 2) return {false, 0, {}, "no answer: short head"};
    int channel = 0;
    if (!ParseNumber(head[0], channel) || channel != 0)
        return {false, 0, {}, "no answer: channel " + head[0]};
    switch (request.code) {
        case adapter::FN_READ_PARAM:
            return ReadPlain(head, items.size());
        case adapter::FN_READ_ARRAY:
            return ReadArray(head, items.size());
        case adapter::FN_PARAM_VALUE:
            return WritePlain(items);
        case adapter::FN_ARRAY_VALUES:
            return WriteArray(items);
        default:
            return {false, 0, {}, "no answer: function " + HexDump(&request.code, 1)};
    }
}

Outcome AdapterModel::ReadPlain(const std::vector<std::string>& head, std::size_t items) {
    int param = 0;
    if (head.size() != 2 || items != 1 || !ParseNumber(head[1], param))
        return {false, 0, {}, "no answer: bad read head"};
    // Parameter 99 is indexed, but a plain read gives its element 0.
    const bool plain = param == kSpec || param == kRadioId || param == kIdent;
    const Element* e = plain ? Find(param, 0) : nullptr;
    if (!e) return {false, 0, {}, "no answer: read " + head[1] + " not held"};
    std::string data = std::string{HT} + "0" + HT + Param3(param) + FF + HT + e->value;
    if (!e->unit.empty()) data += HT + e->unit;
    data += FF;
    return {true, adapter::FN_PARAM_VALUE, data, "value " + Param3(param)};
}

Outcome AdapterModel::ReadArray(const std::vector<std::string>& head, std::size_t items) {
    int param = 0, start = 0, count = 0;
    if (head.size() != 4 || items != 1 || !ParseNumber(head[1], param) || !ParseNumber(head[2], start) ||
        !ParseNumber(head[3], count))
        return {false, 0, {}, "no answer: bad array head"};
    if (param != kIdent && param != kPolling)
        return {false, 0, {}, "no answer: array " + head[1] + " not held"};
    // Only the elements that exist are sent, and the head counts exactly those: the configurator
    // walks as many elements as the head announces.
    const int held = static_cast<int>(params_[param].size());
    const int avail = start >= held ? 0 : (count < held - start ? count : held - start);
    const int sent = arrayLimit_ > 0 && avail > arrayLimit_ ? static_cast<int>(arrayLimit_) : avail;
    std::string data = std::string{HT} + "0" + HT + Param3(param) + HT + Decimal(start, "%d") + HT +
                       Decimal(sent, "%03d") + FF;
    for (int j = 0; j < sent; ++j) {
        const Element& e = params_[param][start + j];
        data += HT + e.value + HT + e.unit + FF;
    }
    std::string note =
        "values " + Param3(param) + "[" + Decimal(start, "%d") + "+" + Decimal(sent, "%d") + "]";
    if (sent < avail) note += " (short array: " + Decimal(sent, "%d") + " of " + Decimal(avail, "%d") + ")";
    return {true, adapter::FN_ARRAY_VALUES, data, note};
}

Outcome AdapterModel::WritePlain(const std::vector<std::vector<std::string>>& items) {
    const std::vector<std::string>& head = items[0];
    int param = 0;
    if (head.size() != 2 || items.size() != 2 || items[1].empty() || !ParseNumber(head[1], param))
        return {false, 0, {}, "no answer: bad write"};
    const bool plain = param == kSpec || param == kRadioId || param == kIdent;
    Element* e = plain ? Find(param, 0) : nullptr;
    if (!e) return {false, 0, {}, "no answer: write " + head[1] + " not held"};
    if (ignoredWrites_.count({param, 0}))
        return {false, 0, {}, "no answer: write " + Param3(param) + " ignored"};
    const std::string& value = items[1][0];
    const std::string why = CheckValue(value);
    if (why.empty() && !forgetWrites_) e->value = value;
    const std::string data = std::string{HT} + "0" + HT + Param3(param) + FF + ReplyItem(why);
    return {true, adapter::FN_WRITE_REPLY, data, "write " + Param3(param) + Verdict(why)};
}

Outcome AdapterModel::WriteArray(const std::vector<std::vector<std::string>>& items) {
    const std::vector<std::string>& head = items[0];
    int param = 0, start = 0, count = 0;
    if (head.size() != 4 || !ParseNumber(head[1], param) || !ParseNumber(head[2], start) ||
        !ParseNumber(head[3], count) || count < 1 || static_cast<std::size_t>(count) != items.size() - 1)
        return {false, 0, {}, "no answer: bad array write"};
    if ((param != kIdent && param != kPolling) || !Find(param, start + count - 1))
        return {false, 0, {}, "no answer: write " + head[1] + "[" + head[2] + "] not held"};
    for (int j = 0; j < count; ++j) {
        if (ignoredWrites_.count({param, start + j}))
            return {false, 0, {}, "no answer: write " + Param3(param) + "[" + head[2] + "] ignored"};
    }
    std::string why;
    for (int j = 0; j < count && why.empty(); ++j) {
        if (items[1 + j].empty())
            why = BadValueText();
        else
            why = CheckValue(items[1 + j][0]);
    }
    // All or nothing: a refused write leaves every element as it was.
    if (why.empty() && !forgetWrites_) {
        for (int j = 0; j < count; ++j) Find(param, start + j)->value = items[1 + j][0];
    }
    // The head of the reply repeats the request's own start and count texts.
    const std::string data =
        std::string{HT} + "0" + HT + Param3(param) + HT + head[2] + HT + head[3] + FF + ReplyItem(why);
    return {true, adapter::FN_WRITE_REPLY, data,
            "write " + Param3(param) + "[" + head[2] + "]" + Verdict(why)};
}

}  // namespace sim
