// The simulated adapter's parameters and its answers to the configurator's requests. Values are
// kept as the bytes that went over the line; units are OEM (866) texts, as the adapter sends them.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "simulator/SimFrames.h"

namespace sim {

struct Element {
    std::string value;
    std::string unit;
};

// What one request leads to: an answer frame's code and data, or no answer; note says which
// in words for the log.
struct Outcome {
    bool answered = false;
    uint8_t code = 0;
    std::string data;
    std::string note;
};

class AdapterModel {
  public:
    // A stored value longer than this would make the 99-element answer outgrow what the
    // configurator assembles in one frame; such writes are refused.
    static constexpr std::size_t MAX_VALUE = 45;

    AdapterModel();

    Outcome Handle(const RequestFrame& request);

    // Every write is refused with this OEM text while it is not empty.
    void SetRefusal(const std::string& oemText);
    // How a refusal's item is laid out: HT text FF (the data syntax), or with an empty value
    // first, HT HT text FF.
    void SetRefusalWithEmptyValue(bool on) { refusalWithEmptyValue_ = on; }
    const std::string& Refusal() const { return refusal_; }
    // Writes that reach this element get no answer at all, as from an adapter that lost them.
    void IgnoreWrites(int param, int element) { ignoredWrites_.insert({param, element}); }
    // Array answers carry at most this many elements (0: all that are asked for and held); their
    // head counts what they carry.
    void SetArrayLimit(long elements) { arrayLimit_ = elements; }
    // Writes that would be stored are acknowledged as accepted and then not stored.
    void SetForgetWrites(bool on) { forgetWrites_ = on; }

    // Element of a parameter, or nullptr when the adapter does not hold it.
    const Element* Find(int param, int element) const;
    Element* Find(int param, int element);

  private:
    Outcome ReadPlain(const std::vector<std::string>& head, std::size_t items);
    Outcome ReadArray(const std::vector<std::string>& head, std::size_t items);
    Outcome WritePlain(const std::vector<std::vector<std::string>>& items);
    Outcome WriteArray(const std::vector<std::vector<std::string>>& items);
    // The reply item that accepts or refuses; why is empty to accept.
    std::string ReplyItem(const std::string& why) const;
    std::string CheckValue(const std::string& value) const;
    // " accepted" or " refused" for the log, as why says.
    std::string Verdict(const std::string& why) const;

    std::map<int, std::vector<Element>> params_;
    std::string refusal_;
    bool refusalWithEmptyValue_ = false;
    std::set<std::pair<int, int>> ignoredWrites_;
    long arrayLimit_ = 0;
    bool forgetWrites_ = false;
};

}  // namespace sim
