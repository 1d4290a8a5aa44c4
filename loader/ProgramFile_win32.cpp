#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include "loader/ProgramImage.h"

namespace loader {

std::FILE* OpenProgramFile(const char* path) {
    // No sharing: fopen would share reading and writing, and read a file another program is
    // still writing.
    HANDLE file =
        ::CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "rb");
    if (!stream) ::_close(fd);  // closes the handle too
    return stream;
}

}  // namespace loader
