// Texts of the command line: the programs' Windows-1251 bytes shown as UTF-8, the other way for
// values typed on the command line, the quoting of CSV, and bytes as hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tray {

// The next code point of UTF-8 text at `i`, which moves past it; false for a broken sequence, an
// overlong form (C0 80 would pass for a NUL and cut a value), a surrogate or a number beyond
// U+10FFFF.
bool NextCodePoint(const std::string& text, size_t& i, uint32_t* cp);
// A code point as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);

// Windows-1251 bytes as UTF-8.
std::string Utf8FromAnsi(const std::string& ansi);
enum class TextFault { None, NotUtf8, NotInCodePage };
// UTF-8 as Windows-1251 bytes, or what is wrong: no UTF-8, or a character that 1251 lacks. The
// character at fault (counted from 1) goes to `*position`, and a missing one to `*codePoint`.
TextFault AnsiFromUtf8(const std::string& utf8, std::string* ansi, size_t* position,
                       uint32_t* codePoint = nullptr);

// A CSV field: quoted when it holds a comma, a quote, a line end or blanks at either end.
std::string CsvField(const std::string& text);
// Bytes as upper-case hex, a blank between bytes ("D2 E5 F1"), and back: blanks anywhere are
// skipped, and anything but pairs of hex digits is refused.
std::string HexOfBytes(const std::string& bytes);
bool BytesOfHex(const std::string& hex, std::string* bytes);

// UTF-8 text fit for a terminal: control characters and bytes that are no UTF-8 as \xNN.
std::string Printable(const std::string& utf8);

// The part of a port's name that can stand in a file name, and that names the port in the
// station's addresses: the last part of a path.
std::string PortFileName(const std::string& port);

// Milliseconds since 1970 as "2026-12-07T14:46:35Z", or "...35.123Z" with `fraction`; by the
// proleptic Gregorian calendar, without the C library's time zone (gmtime shares one buffer between
// threads).
std::string UtcClockText(int64_t milliseconds, bool fraction);

// Blanks at both ends removed.
std::string Trim(const std::string& text);

}  // namespace tray
