#pragma once
// Pixel maths of the grey idle image of an ImageButton. Works on the pixels and colour table
// of a device-independent bitmap as GetDIBits hands them out, so that it can be tested without
// a display.

#include <cstddef>
#include <cstdint>

namespace ui {

// Compression values of a bitmap header.
constexpr uint32_t DIB_COMPRESSION_RGB = 0;
constexpr uint32_t DIB_COMPRESSION_BITFIELDS = 3;

// Room for the largest colour table (8 bits per pixel), in 4-byte entries: blue, green, red, 0.
constexpr size_t DIB_MAX_COLOURS = 256;

// Bytes in one row of a device-independent bitmap: rows are padded to 32 bits.
// 0 for a negative width.
size_t DibRowSize(uint32_t bitCount, int32_t width);

// Bytes for all rows; a negative height (a top-down bitmap) counts as its magnitude.
size_t DibPixelSize(uint32_t bitCount, int32_t width, int32_t height);

// The compression to ask GetDIBits for: 16-bit pixels read with BI_BITFIELDS come as 5-6-5 on
// some displays; asking for BI_RGB always gives 5-5-5, the layout the grey maths expects.
uint32_t DibReadCompression(uint32_t compression);

// Luminance of a colour, truncated: white 255, black 0. Also used on 5-bit channel values,
// where it stays within 0..31.
inline uint32_t GrayLevel(uint32_t blue, uint32_t green, uint32_t red) {
    return (11u * blue + 59u * green + 30u * red) / 100u;
}

// Turns a bitmap grey in place. 1, 4 and 8 bits per pixel change the colour table (2^bits
// entries, fourth byte set to 0) and leave the pixels; 16 bits (5-5-5) and 24 and 32 bits change
// the pixels (the fourth byte of a 32-bit pixel is kept; row padding is not touched).
// Returns false, changing nothing, for any other bit count and when a buffer is too small for
// the bitmap it claims to hold.
bool MakeGrayPixels(uint32_t bitCount, int32_t width, int32_t height, uint8_t* pixels, size_t pixelBytes,
                    uint8_t* colourTable, size_t colourTableEntries);

}  // namespace ui
