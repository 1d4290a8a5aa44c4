"""Round trips through the picture generator: the files it writes are decoded here on their own
terms (file and bitmap headers, bottom-up rows, nibble order, AND masks) and compared with the
source pixels."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "cmake"))
import pixelart  # noqa: E402


def decode_dib(blob, with_mask):
    size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", blob, 0)
    assert size == 40 and planes == 1 and compression == 0
    rows = height // 2 if with_mask else height
    colours = 1 << bits
    table = [tuple(blob[40 + 4 * i : 40 + 4 * i + 3][::-1]) for i in range(colours)]
    stride = (bits * width + 31) // 32 * 4
    pixels_at = 40 + 4 * colours
    image = []
    for y in range(rows):
        row = blob[pixels_at + (rows - 1 - y) * stride :][:stride]
        line = []
        for x in range(width):
            if bits == 4:
                v = row[x // 2] >> (4 if x % 2 == 0 else 0) & 15
            else:
                v = row[x]
            line.append(v)
        image.append(line)
    mask = None
    if with_mask:
        mstride = (width + 31) // 32 * 4
        mask_at = pixels_at + stride * rows
        assert len(blob) == mask_at + mstride * rows
        mask = [
            [blob[mask_at + (rows - 1 - y) * mstride + x // 8] >> (7 - x % 8) & 1 for x in range(width)]
            for y in range(rows)
        ]
    return bits, width, rows, table, image, mask


def decode_ico(data):
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert reserved == 0 and kind == 1
    images = []
    for n in range(count):
        w, h, colours, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * n)
        decoded = decode_dib(data[offset : offset + length], with_mask=True)
        assert (decoded[1] & 255, decoded[2] & 255, decoded[0]) == (w, h, bits)
        assert colours == (16 if bits == 4 else 0) and planes == 1
        images.append(decoded)
    return images


SOURCE = """# two images
colour . none
colour R ff0000
colour g 00ff00
colour b 0000ff
image 5x3
.Rgb.
RRRRR
..b..
image 3x2
b.b
.g.
"""


class IconTest(unittest.TestCase):
    def test_pixels_mask_and_palette_survive(self):
        palette, images = pixelart.parse(SOURCE, "t")
        decoded = decode_ico(pixelart.make_ico(palette, images))
        self.assertEqual(2, len(decoded))
        for (bits, width, height, table, pixels, mask), image in zip(decoded, images):
            self.assertEqual(4, bits)
            self.assertEqual((image.width, image.height), (width, height))
            for y, row in enumerate(image.rows):
                for x, ch in enumerate(row):
                    colour = palette[ch]
                    if colour is None:
                        # transparent: AND bit set over black, so nothing shows
                        self.assertEqual((1, (0, 0, 0)), (mask[y][x], table[pixels[y][x]]), (x, y))
                    else:
                        self.assertEqual((0, colour), (mask[y][x], table[pixels[y][x]]), (x, y))

    def test_many_colours_take_eight_bits(self):
        chars = "ABCDEFGHIJKLMNOPQ"  # 17 colours
        text = "".join("colour %s %02x0000\n" % (c, 10 * i) for i, c in enumerate(chars))
        text += "image 17x1\n" + chars + "\n"
        palette, images = pixelart.parse(text, "t")
        ((bits, _, _, table, pixels, mask),) = decode_ico(pixelart.make_ico(palette, images))
        self.assertEqual(8, bits)
        self.assertEqual([palette[c] for c in chars], [table[i] for i in pixels[0]])
        self.assertEqual([0] * 17, mask[0])


class BitmapTest(unittest.TestCase):
    def test_sixteen_colour_strip(self):
        text = "colour . ff00ff\ncolour R e00000\ncolour K 000000\nimage 9x2\nR.......K\n.RK......\n"
        palette, images = pixelart.parse(text, "t")
        data = pixelart.make_bmp(palette, images)
        magic, file_size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
        self.assertEqual((b"BM", len(data), 14 + 40 + 64), (magic, file_size, offset))
        bits, width, height, table, pixels, _ = decode_dib(data[14:], with_mask=False)
        self.assertEqual((4, 9, 2), (bits, width, height))
        self.assertEqual(14 + 40 + 64 + 2 * 8, len(data))  # 9 pixels of 4 bits padded to 8 bytes
        for y, row in enumerate(images[0].rows):
            self.assertEqual([palette[c] for c in row], [table[i] for i in pixels[y]])

    def test_refuses_what_a_sixteen_colour_bitmap_cannot_hold(self):
        with self.assertRaises(pixelart.PictureError):
            pixelart.make_bmp(*pixelart.parse("colour . none\ncolour K 000000\nimage 2x1\n.K\n", "t"))
        many = "".join("colour %s %06x\n" % (chr(65 + i), i) for i in range(17))
        many += "image 17x1\n" + "".join(chr(65 + i) for i in range(17)) + "\n"
        with self.assertRaises(pixelart.PictureError):
            pixelart.make_bmp(*pixelart.parse(many, "t"))


class SourceErrorTest(unittest.TestCase):
    def assertRejected(self, text, where):
        with self.assertRaises(pixelart.PictureError) as caught:
            pixelart.parse(text, "src")
        self.assertIn(where, str(caught.exception))

    def test_broken_sources_name_the_line(self):
        self.assertRejected("colour K 000000\nimage 2x2\nKK\nK\n", "src:4")  # short row
        self.assertRejected("colour K 000000\nimage 2x2\nKK\nKX\n", "src:4")  # colourless character
        self.assertRejected("colour K 000000\nimage 2x3\nKK\nKK\n", "src:2")  # rows missing
        self.assertRejected("colour K 000000\ncolour K ffffff\n", "src:2")  # colour given twice
        self.assertRejected("colour K 0000\n", "src:1")  # bad colour
        self.assertRejected("colour K 000000\n", "no image")


if __name__ == "__main__":
    unittest.main()
