// The program file for the adapter, held as raw bytes: by convention an Intel HEX text, which the
// loader sends exactly as stored and never interprets.
#pragma once

#include <cstdint>
#include <cstdio>

namespace loader {

constexpr int32_t PROGRAM_IMAGE_SIZE = 32768;

class ProgramImage {
  public:
    ProgramImage() = default;
    ~ProgramImage() { Close(); }
    ProgramImage(const ProgramImage&) = delete;
    ProgramImage& operator=(const ProgramImage&) = delete;

    // First phase: open the file and take its length, at most 32768. False when it cannot be
    // opened; length and buffer are then unchanged.
    bool Open(const char* path);
    // Second phase: read the bytes into the buffer from its first byte and close the file.
    void ReadAndClose();
    void Close();

    int32_t Length() const { return length_; }
    uint8_t At(int32_t index) const { return buffer_[index]; }
    const uint8_t* Data() const { return buffer_; }

  private:
    uint8_t buffer_[PROGRAM_IMAGE_SIZE] = {};
    int32_t length_ = 0;
    std::FILE* file_ = nullptr;
};

// An existence test of the kind the start button makes before anything else.
bool FileExists(const char* path);

// Opens the program file for reading as raw bytes, shared with nobody where the platform has
// share modes, so that a file another program is still writing is refused instead of read half
// written. Null when it cannot be opened.
std::FILE* OpenProgramFile(const char* path);

}  // namespace loader
