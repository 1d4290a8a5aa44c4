#include "tray/Text.h"

#include <cstdint>
#include <cstdio>
#include <utility>

namespace tray {

namespace {

// Code points of Windows-1251 bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F. 0x98 has no
// character in 1251 and passes as the C1 control of the same number.
const uint16_t kHighHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

uint32_t CodePointOf(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
    return kHighHalf[byte - 0x80];
}

}  // namespace

bool NextCodePoint(const std::string& text, size_t& i, uint32_t* cp) {
    static const uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80         ? 0
                      : (lead >> 5) == 6  ? 1
                      : (lead >> 4) == 14 ? 2
                      : (lead >> 3) == 30 ? 3
                                          : -1;
    if (extra < 0 || text.size() - i <= static_cast<size_t>(extra)) return false;
    uint32_t value = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
        if ((next & 0xC0) != 0x80) return false;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < kSmallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    i += static_cast<size_t>(extra) + 1;
    *cp = value;
    return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf8FromAnsi(const std::string& ansi) {
    std::string out;
    out.reserve(ansi.size() * 2);
    for (char c : ansi) AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
    return out;
}

TextFault AnsiFromUtf8(const std::string& utf8, std::string* ansi, size_t* position, uint32_t* codePoint) {
    std::string out;
    size_t character = 0;
    for (size_t i = 0; i < utf8.size(); ++character) {
        *position = character + 1;
        uint32_t cp = 0;
        if (!NextCodePoint(utf8, i, &cp)) return TextFault::NotUtf8;
        int byte = -1;
        for (int b = 0; b < 256 && byte < 0; ++b) {
            if (CodePointOf(static_cast<unsigned char>(b)) == cp) byte = b;
        }
        if (byte < 0) {
            if (codePoint != nullptr) *codePoint = cp;
            return TextFault::NotInCodePage;
        }
        out += static_cast<char>(byte);
    }
    *ansi = out;
    return TextFault::None;
}

std::string CsvField(const std::string& text) {
    bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    for (char c : text) quote = quote || c == ',' || c == '"' || c == '\n' || c == '\r';
    if (!quote) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string HexOfBytes(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (i != 0) out += ' ';
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

bool BytesOfHex(const std::string& hex, std::string* bytes) {
    std::string out;
    int high = -1;
    for (char c : hex) {
        if (c == ' ') continue;
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) return false;
        if (high < 0) {
            high = digit;
        } else {
            out += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    if (high >= 0) return false;
    *bytes = std::move(out);
    return true;
}

std::string Printable(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        uint32_t cp = 0;
        if (!NextCodePoint(utf8, i, &cp)) {
            cp = static_cast<unsigned char>(utf8[i]);
            i = start + 1;
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(cp));
            out += escape;
            continue;
        }
        // Control characters (C0, DEL and C1) would move the cursor or change the terminal.
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(cp));
            out += escape;
        } else {
            out.append(utf8, start, i - start);
        }
    }
    return out;
}

std::string PortFileName(const std::string& port) {
    const size_t slash = port.find_last_of("/\\");
    std::string name = slash == std::string::npos ? port : port.substr(slash + 1);
    for (char& c : name) {
        if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') c = '_';
    }
    return name;
}

std::string UtcClockText(int64_t milliseconds, bool fraction) {
    int64_t days = milliseconds / 86400000;
    int64_t rest = milliseconds % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
                  static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
                  static_cast<long long>(rest / 3600000), static_cast<long long>(rest / 60000 % 60),
                  static_cast<long long>(rest / 1000 % 60));
    std::string out = text;
    if (fraction) {
        std::snprintf(text, sizeof text, ".%03lld", static_cast<long long>(rest % 1000));
        out += text;
    }
    return out + "Z";
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace tray
