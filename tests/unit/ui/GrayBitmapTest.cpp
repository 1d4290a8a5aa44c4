#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "ui/GrayBitmap.h"

namespace {

using ui::DibPixelSize;
using ui::DibRowSize;
using ui::GrayLevel;
using ui::MakeGrayPixels;

TEST(GrayBitmap, GrayLevelWeightsAndTruncation) {
    EXPECT_EQ(255u, GrayLevel(255, 255, 255));
    EXPECT_EQ(0u, GrayLevel(0, 0, 0));
    // Blue, green and red alone: 11, 59 and 30 per cent, truncated.
    EXPECT_EQ(28u, GrayLevel(255, 0, 0));   // 2805 / 100
    EXPECT_EQ(150u, GrayLevel(0, 255, 0));  // 15045 / 100
    EXPECT_EQ(76u, GrayLevel(0, 0, 255));   // 7650 / 100
    EXPECT_EQ(1u, GrayLevel(1, 1, 1));
    EXPECT_EQ(0u, GrayLevel(0, 1, 0));  // 59 / 100
    EXPECT_EQ(31u, GrayLevel(31, 31, 31));
}

TEST(GrayBitmap, RowSizeIsPaddedTo32Bits) {
    EXPECT_EQ(4u, DibRowSize(1, 1));
    EXPECT_EQ(4u, DibRowSize(1, 32));
    EXPECT_EQ(8u, DibRowSize(1, 33));
    EXPECT_EQ(40u, DibRowSize(4, 76));  // the row-mark strip: 38 bytes of pixels
    EXPECT_EQ(16u, DibRowSize(4, 32));
    EXPECT_EQ(32u, DibRowSize(8, 32));
    EXPECT_EQ(8u, DibRowSize(16, 3));
    EXPECT_EQ(12u, DibRowSize(24, 3));
    EXPECT_EQ(96u, DibRowSize(24, 32));
    EXPECT_EQ(128u, DibRowSize(32, 32));
    EXPECT_EQ(0u, DibRowSize(32, 0));
    EXPECT_EQ(0u, DibRowSize(32, -5));
    EXPECT_EQ(12u * 5u, DibPixelSize(24, 3, 5));
    EXPECT_EQ(12u * 5u, DibPixelSize(24, 3, -5));  // top-down bitmap
}

TEST(GrayBitmap, BitfieldsAreReadAsPlainRgb) {
    EXPECT_EQ(ui::DIB_COMPRESSION_RGB, ui::DibReadCompression(ui::DIB_COMPRESSION_BITFIELDS));
    EXPECT_EQ(ui::DIB_COMPRESSION_RGB, ui::DibReadCompression(ui::DIB_COMPRESSION_RGB));
    EXPECT_EQ(1u, ui::DibReadCompression(1));  // others pass through
}

// Colour-table depths: the table turns grey with a zero fourth byte, the pixels stay.
TEST(GrayBitmap, PalettedDepthsGreyTheColourTableOnly) {
    for (uint32_t bits : {1u, 4u, 8u}) {
        SCOPED_TRACE(bits);
        std::vector<uint8_t> table(4 * ui::DIB_MAX_COLOURS, 0xEE);
        const size_t used = size_t{1} << bits;
        // entry 0 white, entry 1 pure red with a stray fourth byte, the rest blue-ish
        table[0] = table[1] = table[2] = 255;
        table[4] = 0, table[5] = 0, table[6] = 255, table[7] = 0x7F;
        for (size_t i = 2; i < used; ++i) {
            table[4 * i] = 200, table[4 * i + 1] = 100, table[4 * i + 2] = 50, table[4 * i + 3] = 9;
        }
        std::vector<uint8_t> pixels(DibPixelSize(bits, 5, 3));
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37);
        const std::vector<uint8_t> before = pixels;

        ASSERT_TRUE(
            MakeGrayPixels(bits, 5, 3, pixels.data(), pixels.size(), table.data(), ui::DIB_MAX_COLOURS));
        EXPECT_EQ(before, pixels);
        EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 0, 76, 76, 76, 0}),
                  std::vector<uint8_t>(table.begin(), table.begin() + 8));
        const uint8_t mixed = (11 * 200 + 59 * 100 + 30 * 50) / 100;  // 96
        for (size_t i = 2; i < used; ++i) {
            EXPECT_EQ(
                (std::array<uint8_t, 4>{mixed, mixed, mixed, 0}),
                (std::array<uint8_t, 4>{table[4 * i], table[4 * i + 1], table[4 * i + 2], table[4 * i + 3]}));
        }
        // entries past 2^bits are none of the bitmap's business
        if (used < ui::DIB_MAX_COLOURS) {
            EXPECT_EQ(0xEE, table[4 * used]);
        }
    }
}

TEST(GrayBitmap, PalettedDepthNeedsAFullTable) {
    std::vector<uint8_t> table(4 * 16, 0x40);
    std::vector<uint8_t> pixels(DibPixelSize(8, 4, 4));
    EXPECT_FALSE(MakeGrayPixels(8, 4, 4, pixels.data(), pixels.size(), table.data(), 16));
    EXPECT_EQ(std::vector<uint8_t>(4 * 16, 0x40), table);
    EXPECT_FALSE(MakeGrayPixels(4, 4, 4, pixels.data(), pixels.size(), nullptr, 0));
}

uint16_t Pixel555(uint32_t r, uint32_t g, uint32_t b, bool top = false) {
    return static_cast<uint16_t>((top ? 0x8000 : 0) | (r << 10) | (g << 5) | b);
}

TEST(GrayBitmap, SixteenBitPixelsGreyTheirFiveBitFields) {
    // 3 pixels of 2 bytes, rows padded to 8 bytes; the padding must survive.
    const int32_t width = 3, height = 2;
    const size_t row = DibRowSize(16, width);
    std::vector<uint8_t> pixels(DibPixelSize(16, width, height), 0xAB);
    const uint16_t in[2][3] = {{Pixel555(31, 31, 31), Pixel555(0, 0, 0, true), Pixel555(31, 0, 0)},
                               {Pixel555(0, 31, 0, true), Pixel555(0, 0, 31), Pixel555(10, 20, 30)}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels[y * row + 2 * x] = static_cast<uint8_t>(in[y][x]);
            pixels[y * row + 2 * x + 1] = static_cast<uint8_t>(in[y][x] >> 8);
        }
    }
    ASSERT_TRUE(MakeGrayPixels(16, width, height, pixels.data(), pixels.size(), nullptr, 0));

    // red 31 -> 930/100 = 9; green 31 -> 1829/100 = 18; blue 31 -> 341/100 = 3;
    // (r10, g20, b30) -> (330 + 1180 + 300)/100 = 18
    const uint32_t levels[2][3] = {{31, 0, 9}, {18, 3, 18}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
            const uint32_t got = pixels[y * row + 2 * x] | (pixels[y * row + 2 * x + 1] << 8);
            EXPECT_EQ(Pixel555(levels[y][x], levels[y][x], levels[y][x]), got);
        }
        EXPECT_EQ(0xAB, pixels[y * row + 6]);
        EXPECT_EQ(0xAB, pixels[y * row + 7]);
    }
}

TEST(GrayBitmap, TrueColourPixelsGreyTheFirstThreeBytes) {
    // 24 bits: 2 pixels of 3 bytes in a row of 8; 32 bits keep their fourth byte.
    std::vector<uint8_t> p24 = {255, 255, 255, 10, 20, 30,  0xCD, 0xCD,   // white, (b10 g20 r30)
                                0,   0,   0,   0,  0,  255, 0xCD, 0xCD};  // black, red
    ASSERT_TRUE(MakeGrayPixels(24, 2, 2, p24.data(), p24.size(), nullptr, 0));
    const uint8_t mid = (110 + 1180 + 900) / 100;  // 21
    EXPECT_EQ(
        (std::vector<uint8_t>{255, 255, 255, mid, mid, mid, 0xCD, 0xCD, 0, 0, 0, 76, 76, 76, 0xCD, 0xCD}),
        p24);

    std::vector<uint8_t> p32 = {255, 255, 255, 0x80, 10, 20, 30, 0xFF, 0, 255, 0, 0x01};
    ASSERT_TRUE(MakeGrayPixels(32, 3, -1, p32.data(), p32.size(), nullptr, 0));
    EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 0x80, mid, mid, mid, 0xFF, 150, 150, 150, 0x01}), p32);
}

TEST(GrayBitmap, OtherDepthsAndShortBuffersAreLeftUnchanged) {
    std::vector<uint8_t> pixels(256, 0x5A);
    std::vector<uint8_t> table(4 * ui::DIB_MAX_COLOURS, 0x5A);
    for (uint32_t bits : {0u, 2u, 15u, 48u}) {
        SCOPED_TRACE(bits);
        EXPECT_FALSE(
            MakeGrayPixels(bits, 4, 4, pixels.data(), pixels.size(), table.data(), ui::DIB_MAX_COLOURS));
    }
    // A header claiming more rows than were read must not be trusted.
    EXPECT_FALSE(MakeGrayPixels(32, 32, 3, pixels.data(), pixels.size(), nullptr, 0));
    EXPECT_FALSE(MakeGrayPixels(24, 4, 1, nullptr, 0, nullptr, 0));
    EXPECT_EQ(std::vector<uint8_t>(256, 0x5A), pixels);
    EXPECT_EQ(std::vector<uint8_t>(4 * ui::DIB_MAX_COLOURS, 0x5A), table);
}

}  // namespace
