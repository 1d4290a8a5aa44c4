// The page's files, built into the program: a line's host may have no network, so nothing is
// fetched from anywhere else.
#pragma once

#include <cstddef>
#include <string>

namespace station {

struct Asset {
    const char* path;  // "/index.html"
    const char* type;  // its Content-Type
    const char* data;
    std::size_t size;
};

// The asset at `path`, or null.
const Asset* FindAsset(const std::string& path);

}  // namespace station
