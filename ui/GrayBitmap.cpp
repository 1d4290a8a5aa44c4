#include "ui/GrayBitmap.h"

namespace ui {

namespace {

size_t Magnitude(int32_t v) {
    return v < 0 ? static_cast<size_t>(-static_cast<int64_t>(v)) : static_cast<size_t>(v);
}

void GrayColourTable(uint8_t* table, size_t entries) {
    for (size_t i = 0; i < entries; ++i) {
        uint8_t* q = table + 4 * i;
        const uint8_t level = static_cast<uint8_t>(GrayLevel(q[0], q[1], q[2]));
        q[0] = q[1] = q[2] = level;
        q[3] = 0;
    }
}

void GrayRows555(uint8_t* pixels, size_t rowSize, size_t width, size_t rows) {
    for (size_t y = 0; y < rows; ++y) {
        uint8_t* p = pixels + y * rowSize;
        for (size_t x = 0; x < width; ++x, p += 2) {
            const uint32_t v = p[0] | (static_cast<uint32_t>(p[1]) << 8);
            const uint32_t level = GrayLevel(v & 0x1F, (v >> 5) & 0x1F, (v >> 10) & 0x1F);
            const uint32_t grey = level | (level << 5) | (level << 10);  // bit 15 cleared
            p[0] = static_cast<uint8_t>(grey);
            p[1] = static_cast<uint8_t>(grey >> 8);
        }
    }
}

void GrayRowsRgb(uint8_t* pixels, size_t rowSize, size_t width, size_t rows, size_t bytesPerPixel) {
    for (size_t y = 0; y < rows; ++y) {
        uint8_t* p = pixels + y * rowSize;
        for (size_t x = 0; x < width; ++x, p += bytesPerPixel) {
            const uint8_t level = static_cast<uint8_t>(GrayLevel(p[0], p[1], p[2]));
            p[0] = p[1] = p[2] = level;
        }
    }
}

}  // namespace

size_t DibRowSize(uint32_t bitCount, int32_t width) {
    if (width < 0) return 0;
    return static_cast<size_t>((static_cast<uint64_t>(bitCount) * static_cast<uint64_t>(width) + 31) / 32 *
                               4);
}

size_t DibPixelSize(uint32_t bitCount, int32_t width, int32_t height) {
    return DibRowSize(bitCount, width) * Magnitude(height);
}

uint32_t DibReadCompression(uint32_t compression) {
    return compression == DIB_COMPRESSION_BITFIELDS ? DIB_COMPRESSION_RGB : compression;
}

bool MakeGrayPixels(uint32_t bitCount, int32_t width, int32_t height, uint8_t* pixels, size_t pixelBytes,
                    uint8_t* colourTable, size_t colourTableEntries) {
    const size_t rowSize = DibRowSize(bitCount, width);
    const size_t rows = Magnitude(height);
    const size_t columns = width < 0 ? 0 : static_cast<size_t>(width);
    switch (bitCount) {
        case 1:
        case 4:
        case 8: {
            const size_t entries = size_t{1} << bitCount;
            if (colourTable == nullptr || colourTableEntries < entries) return false;
            GrayColourTable(colourTable, entries);
            return true;
        }
        case 16:
        case 24:
        case 32:
            // A header that claims more rows than were read must not walk past the buffer.
            if (rowSize != 0 && rows != 0 && (pixels == nullptr || pixelBytes / rowSize < rows)) return false;
            if (bitCount == 16) {
                GrayRows555(pixels, rowSize, columns, rows);
            } else {
                GrayRowsRgb(pixels, rowSize, columns, rows, bitCount / 8);
            }
            return true;
        default:
            return false;
    }
}

}  // namespace ui
