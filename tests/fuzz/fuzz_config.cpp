// The configuration-file reader on any text, JSON or CSV. What it accepts is a proper set of table
// rows, and both written forms of it read back to the same rows (the JSON also to the same head).
#include <string>
#include <vector>

#include "cli/ConfigFile.h"
#include "configurator/ParameterTable.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

bool SameRows(const std::vector<cli::ConfigRow>& a, const std::vector<cli::ConfigRow>& b) {
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

void CheckRows(const cli::Configuration& c) {
    int last = -1;
    for (const cli::ConfigRow& r : c.rows) {
        fuzz::Check(r.row > last && r.row < configurator::PARAM_ROW_COUNT,
                    "rows out of order, twice or outside");
        fuzz::Check(cli::RowOfName(r.param + ":" + r.index) == r.row || cli::RowOfName(r.param) == r.row,
                    "a row taken under another row's parameter and index");
        last = r.row;
    }
    fuzz::Check(c.formatVersion >= 1 && c.formatVersion <= cli::CONFIG_FORMAT,
                "a format taken that is not ours");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    cli::Configuration read;
    std::string error;
    if (!cli::ParseConfiguration(text, &read, &error)) {
        fuzz::Check(!error.empty(), "a refusal without a reason");
        return 0;
    }
    CheckRows(read);

    cli::Configuration again;
    fuzz::Check(cli::ParseConfiguration(cli::ConfigJson(read), &again, &error), "its JSON is refused");
    fuzz::Check(SameRows(read.rows, again.rows), "its JSON reads back to other rows");
    fuzz::Check(again.tool == read.tool && again.port == read.port && again.speed == read.speed &&
                    again.time == read.time,
                "its JSON reads back to another head");
    cli::Configuration fromCsv;
    fuzz::Check(cli::ParseConfiguration(cli::ConfigCsv(read), &fromCsv, &error), "its CSV is refused");
    fuzz::Check(SameRows(read.rows, fromCsv.rows), "its CSV reads back to other rows");

    // The plan against itself is empty, and the value check takes any accepted text.
    fuzz::Check(cli::Differences(read, read, nullptr).empty(), "a file differs from itself");
    std::string ansi;
    for (const cli::ConfigRow& r : read.rows) cli::UsableValue(r.value, &ansi, &error, r.row);
    std::vector<bool> wanted;
    cli::ParseRowList(text.substr(0, 64), &wanted, &error);
    return 0;
}
