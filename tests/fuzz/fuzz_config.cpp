// The configuration-file reader on any text, JSON or CSV. What it accepts is a proper set of table
// rows, and both written forms of it read back to the same rows (the JSON also to the same head).
#include <string>
#include <vector>

#include "configurator/ParameterTable.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tray/Configuration.h"

namespace {

bool SameRows(const std::vector<tray::ConfigRow>& a, const std::vector<tray::ConfigRow>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].row != b[k].row || a[k].param != b[k].param || a[k].index != b[k].index ||
            a[k].value != b[k].value || a[k].unit != b[k].unit || a[k].name != b[k].name ||
            a[k].answered != b[k].answered) {
            return false;
        }
    }
    return true;
}

void CheckRows(const tray::Configuration& c) {
    int last = -1;
    for (const tray::ConfigRow& r : c.rows) {
        fuzz::Check(r.row > last && r.row < configurator::PARAM_ROW_COUNT,
                    "rows out of order, twice or outside");
        fuzz::Check(tray::RowOfName(r.param + ":" + r.index) == r.row || tray::RowOfName(r.param) == r.row,
                    "a row taken under another row's parameter and index");
        last = r.row;
    }
    fuzz::Check(c.formatVersion >= 1 && c.formatVersion <= tray::CONFIG_FORMAT,
                "a format taken that is not ours");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tray::Configuration read;
    std::string error;
    if (!tray::ParseConfiguration(text, &read, &error)) {
        fuzz::Check(!error.empty(), "a refusal without a reason");
        return 0;
    }
    CheckRows(read);

    tray::Configuration again;
    fuzz::Check(tray::ParseConfiguration(tray::ConfigJson(read), &again, &error), "its JSON is refused");
    fuzz::Check(SameRows(read.rows, again.rows), "its JSON reads back to other rows");
    fuzz::Check(again.tool == read.tool && again.port == read.port && again.speed == read.speed &&
                    again.time == read.time,
                "its JSON reads back to another head");
    tray::Configuration fromCsv;
    fuzz::Check(tray::ParseConfiguration(tray::ConfigCsv(read), &fromCsv, &error), "its CSV is refused");
    fuzz::Check(SameRows(read.rows, fromCsv.rows), "its CSV reads back to other rows");

    // The plan against itself is empty, and the value check takes any accepted text.
    fuzz::Check(tray::Differences(read, read, nullptr).empty(), "a file differs from itself");
    std::string ansi;
    for (const tray::ConfigRow& r : read.rows) tray::UsableValue(r.value, &ansi, &error, r.row);
    std::vector<bool> wanted;
    tray::ParseRowList(text.substr(0, 64), &wanted, &error);
    return 0;
}
