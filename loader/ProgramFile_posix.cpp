#include "loader/ProgramImage.h"

namespace loader {

// POSIX has no share modes: a file being written elsewhere is opened all the same.
std::FILE* OpenProgramFile(const char* path) {
    return std::fopen(path, "rb");
}

}  // namespace loader
