// The program-file reader on any file: the image is the file's first bytes, at most 32768 of them,
// exactly as stored.
//
// Input: one control byte, then the file's content. When the low four bits of the control byte
// are 1, the content is repeated up to 32704 + 2 * (control byte) bytes, so that files on both
// sides of the limit come up without libFuzzer having to grow inputs that long.
#include <cstring>
#include <vector>

#include "loader/ProgramImage.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static fuzz::ScratchFile* file = new fuzz::ScratchFile("krt-fuzz-program");
    static loader::ProgramImage* image = new loader::ProgramImage;
    static std::vector<uint8_t>* content = new std::vector<uint8_t>;

    const uint8_t control = data[0];
    content->assign(data + 1, data + size);
    if ((control & 0x0F) == 1 && !content->empty()) {
        const size_t want = 32704 + 2 * static_cast<size_t>(control);
        const size_t unit = content->size();
        content->resize(want);
        for (size_t at = unit; at < want; at += unit) {
            std::memcpy(content->data() + at, content->data(), at + unit <= want ? unit : want - at);
        }
    }
    file->Write(content->data(), content->size());

    fuzz::Check(image->Open(file->Path()), "program file could not be opened");
    const size_t want = content->size() < 32768 ? content->size() : 32768;
    fuzz::Check(image->Length() == static_cast<int32_t>(want), "image length");
    image->ReadAndClose();
    fuzz::Check(image->Length() == static_cast<int32_t>(want), "image length after reading");
    fuzz::Check(want == 0 || std::memcmp(image->Data(), content->data(), want) == 0, "image bytes differ");
    return 0;
}
