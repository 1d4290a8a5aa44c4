// What a value and a row of the table are to the command line and the station: the checks that a
// value can go out in a write request, the rows by name, and the checks of a program file. UTF-8
// in, Windows-1251 out; nothing here touches a file or a port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tray {

// The parameter's digits and the element's two digits of a row, as the write request names them.
void RowNames(int row, std::string* param, std::string* index);

// Whether a value can go out in a write request of `row` (-1: of any row): UTF-8 whose every
// character Windows-1251 has, no control character, and short enough for the request. `ansi`
// receives the bytes to send.
bool UsableValue(const std::string& utf8, std::string* ansi, std::string* error, int row = -1);
// Whether a write request of `row` carries these Windows-1251 bytes whole: no control byte, and
// short enough for a frame.
bool RequestCarries(int row, const std::string& ansi);
// The adapter's bytes as the configurator shows them, in UTF-8.
std::string ShownText(const std::string& adapterBytes);

// A row named as on the command line: 0..103, or PARAM[:INDEX] with the parameter's three digits
// (003, 006, 099:01, 052:07). -1 for anything else.
int RowOfName(const std::string& name);
// A list of rows and ranges of rows, "0-5,12,052:07,052:10-052:20", as one flag per table row.
bool ParseRowList(const std::string& text, std::vector<bool>* wanted, std::string* error);

// Why a program of `size` bytes cannot be loaded (`name` tells which), or "" when it can.
std::string ProgramProblem(const std::string& name, int64_t size);

}  // namespace tray
