#include "tray/Values.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "adapter/LinkHost.h"
#include "adapter/LinkState.h"
#include "adapter/Requests.h"
#include "configurator/ParameterTable.h"
#include "loader/ProgramImage.h"
#include "tray/Text.h"

namespace tray {

namespace {

std::string CodePointName(uint32_t cp) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(cp));
    return name;
}

// The longest frame the core sends; room for its terminating zero comes on top.
int WriteRequestLength(int row, const std::string& ansi) {
    const adapter::ParamRows& rows = *adapter::RowsOfRow(row);
    std::string param, index;
    RowNames(row, &param, &index);
    std::vector<uint8_t> request(adapter::SEND_FRAME_MAX + 1);
    return adapter::BuildWriteRequest(rows, index.c_str(), ansi.c_str(), request.data(),
                                      static_cast<int>(request.size()));
}

}  // namespace

// The parameter's digits and the element's two digits of a row, as the write request names them.
void RowNames(int row, std::string* param, std::string* index) {
    const adapter::ParamRows* rows = adapter::RowsOfRow(row);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", rows->indexed ? row - rows->firstRow : 0);
    *param = rows->digits;
    *index = digits;
}

bool UsableValue(const std::string& utf8, std::string* ansi, std::string* error, int row) {
    std::string bytes;
    size_t character = 0;
    uint32_t cp = 0;
    switch (AnsiFromUtf8(utf8, &bytes, &character, &cp)) {
        case TextFault::NotUtf8:
            *error = "character " + std::to_string(character) + " is not UTF-8";
            return false;
        case TextFault::NotInCodePage:
            *error = "character " + std::to_string(character) + " (" + CodePointName(cp) +
                     ") has no Windows-1251 form";
            return false;
        case TextFault::None:
            break;
    }
    const int bad = adapter::FirstUnsendableByte(bytes.data(), bytes.size());
    if (bad >= 0) {
        *error = "character " + std::to_string(bad + 1) + " (" +
                 CodePointName(static_cast<unsigned char>(bytes[static_cast<size_t>(bad)])) +
                 ") is a control character, which a write request cannot carry";
        return false;
    }
    // Without a row, the tightest request: an element of an indexed parameter.
    const int tightest = configurator::PARAM_ROW_COUNT - 1;
    const int target = row >= 0 && row < configurator::PARAM_ROW_COUNT ? row : tightest;
    if (WriteRequestLength(target, bytes) < 0) {
        const int room = adapter::SEND_FRAME_MAX - WriteRequestLength(target, std::string());
        *error = "the value has " + std::to_string(bytes.size()) +
                 " characters; a write request holds at most " + std::to_string(room);
        return false;
    }
    *ansi = std::move(bytes);
    return true;
}

bool RequestCarries(int row, const std::string& ansi) {
    if (row < 0 || row >= configurator::PARAM_ROW_COUNT) return false;
    return adapter::FirstUnsendableByte(ansi.data(), ansi.size()) < 0 && WriteRequestLength(row, ansi) >= 0;
}

std::string ShownText(const std::string& adapterBytes) {
    // As the configurator shows it: the OEM text taken for ANSI, up to the first zero byte.
    std::string text = adapterBytes.substr(0, adapterBytes.find('\0'));
    adapter::Oem866ToAnsi1251(&text[0]);
    return Utf8FromAnsi(text);
}

int RowOfName(const std::string& name) {
    const size_t colon = name.find(':');
    const std::string head = name.substr(0, colon);
    if (head.empty() || head.size() > 3 || head.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const adapter::ParamRows* rows =
        head.size() == 3 ? adapter::RowsOfParameter(std::atoi(head.c_str())) : nullptr;
    if (rows == nullptr) {
        // Plain row numbers; three digits that name no parameter are rows 100 to 103, but with a
        // leading zero they were meant as a parameter.
        if (colon != std::string::npos || (head.size() == 3 && head[0] == '0')) return -1;
        const int row = std::atoi(head.c_str());
        return row < configurator::PARAM_ROW_COUNT ? row : -1;
    }
    int element = 0;
    if (colon != std::string::npos) {
        const std::string index = name.substr(colon + 1);
        if (!rows->indexed || index.size() != 2 || index.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        element = std::atoi(index.c_str());
    }
    const int row = rows->firstRow + element;
    return row < configurator::PARAM_ROW_COUNT && adapter::RowsOfRow(row) == rows ? row : -1;
}

bool ParseRowList(const std::string& text, std::vector<bool>* wanted, std::string* error) {
    std::vector<bool> rows(configurator::PARAM_ROW_COUNT, false);
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item =
            Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        const size_t dash = item.find('-');
        const std::string lowText = Trim(item.substr(0, dash));
        const std::string highText = dash == std::string::npos ? lowText : Trim(item.substr(dash + 1));
        if (item.empty()) {
            *error = "an empty entry in the row list";
            return false;
        }
        const int low = RowOfName(lowText);
        const int high = RowOfName(highText);
        if (low < 0 || high < 0) {
            *error = "unknown row " + (low < 0 ? lowText : highText) + " (0..103 or PARAM[:INDEX])";
            return false;
        }
        if (high < low) {
            *error = "the range " + item + " runs backwards";
            return false;
        }
        for (int r = low; r <= high; ++r) rows[static_cast<size_t>(r)] = true;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    *wanted = std::move(rows);
    return true;
}

std::string ProgramProblem(const std::string& name, int64_t size) {
    // The adapter takes the whole program or nothing: a program cut at the limit, or none at all,
    // would leave it with something that is not its program.
    if (size == 0) return name + " is empty: there is nothing to load";
    if (size > loader::PROGRAM_IMAGE_SIZE) {
        return name + " has " + std::to_string(size) + " bytes; the adapter takes at most " +
               std::to_string(loader::PROGRAM_IMAGE_SIZE);
    }
    return std::string();
}

}  // namespace tray
