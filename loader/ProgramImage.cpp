#include "loader/ProgramImage.h"

#include <sys/stat.h>

namespace loader {

bool ProgramImage::Open(const char* path) {
    Close();
    std::FILE* f = OpenProgramFile(path);
    if (!f) return false;
    if (std::fseek(f, 0, SEEK_END) != 0) {
        std::fclose(f);
        return false;
    }
    long size = std::ftell(f);
    if (size < 0) {
        std::fclose(f);
        return false;
    }
    // A longer file is cut without a message: the adapter's program memory holds no more.
    length_ = size > PROGRAM_IMAGE_SIZE ? PROGRAM_IMAGE_SIZE : static_cast<int32_t>(size);
    file_ = f;
    return true;
}

void ProgramImage::ReadAndClose() {
    if (!file_) return;
    std::fseek(file_, 0, SEEK_SET);
    // The count read is not looked at: a file that shrank since Open leaves old bytes behind.
    size_t got = std::fread(buffer_, 1, static_cast<size_t>(length_), file_);
    (void)got;
    Close();
}

void ProgramImage::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool FileExists(const char* path) {
    if (!path || !*path) return false;
    struct stat st;
    return stat(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}

}  // namespace loader
