#!/usr/bin/env python3
"""Turns a text pixel-art source into a Windows .ico or .bmp file (standard library only).

Source format (UTF-8 text):

    # a comment line (only at the start of a line)
    colour K 000000         one character -> RGB as six hex digits
    colour . none           the transparent character (icons only)
    image 32x32             the next 32 rows, 32 characters each, form one image
    ................................
    ...

Every character used in an image must have a colour. An icon source holds one or more
images (e.g. 32x32 and 16x16), written into one .ico in the order given, each with its AND
mask; with at most 16 colours (transparency not counted) an image is stored with 4 bits per
pixel, else with 8. A bitmap source holds exactly one image without transparency, stored as
a 16-colour (4-bit) .bmp. The output kind follows the output file's extension.

    pixelart.py SOURCE OUTPUT.ico|OUTPUT.bmp [--preview PREVIEW.png]
    pixelart.py --check SOURCE...

--preview also writes an enlarged PNG that shows each image in colour and, beside it, in the
grey that the image button computes for its idle state, on a button-face background, so that
a picture can be judged by eye in both looks.
"""

import re
import struct
import sys
import zlib

BUTTON_FACE = (212, 208, 200)


class PictureError(Exception):
    pass


class Image:
    def __init__(self, width, height, rows):
        self.width = width
        self.height = height
        self.rows = rows  # list of strings, top row first


def parse(text, name):
    palette = {}  # char -> (r, g, b) or None for transparent
    images = []
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        where = "%s:%d" % (name, i + 1)
        i += 1
        stripped = line.strip()
        if not stripped or line.startswith("#"):
            continue
        words = stripped.split()
        if words[0] == "colour":
            if len(words) != 3 or len(words[1]) != 1:
                raise PictureError(where + ": expected 'colour C RRGGBB' or 'colour C none'")
            ch = words[1]
            if ch in palette:
                raise PictureError(where + ": colour %r given twice" % ch)
            if words[2] == "none":
                palette[ch] = None
            elif re.fullmatch(r"[0-9A-Fa-f]{6}", words[2]):
                v = int(words[2], 16)
                palette[ch] = ((v >> 16) & 255, (v >> 8) & 255, v & 255)
            else:
                raise PictureError(where + ": bad colour %r" % words[2])
        elif words[0] == "image":
            m = re.fullmatch(r"(\d+)x(\d+)", words[1]) if len(words) == 2 else None
            if not m:
                raise PictureError(where + ": expected 'image WxH'")
            w, h = int(m.group(1)), int(m.group(2))
            if not (1 <= w <= 256 and 1 <= h <= 256):
                raise PictureError(where + ": image size out of range")
            rows = lines[i : i + h]
            if len(rows) != h:
                raise PictureError(where + ": image needs %d rows, file ends after %d" % (h, len(rows)))
            for n, row in enumerate(rows):
                if len(row) != w:
                    raise PictureError("%s:%d: row has %d characters, expected %d" % (name, i + n + 1, len(row), w))
                for ch in row:
                    if ch not in palette:
                        raise PictureError("%s:%d: character %r has no colour" % (name, i + n + 1, ch))
            images.append(Image(w, h, rows))
            i += h
        else:
            raise PictureError(where + ": unknown line %r" % words[0])
    if not images:
        raise PictureError(name + ": no image")
    return palette, images


def table_for(image, palette, reserve_black):
    """Colour table (list of RGB) and char -> index map for the opaque colours an image uses."""
    used = []
    for row in image.rows:
        for ch in row:
            if palette[ch] is not None and palette[ch] not in used:
                used.append(palette[ch])
    if reserve_black and (0, 0, 0) not in used:
        used.insert(0, (0, 0, 0))
    index = {}
    for ch, rgb in palette.items():
        if rgb is None:
            # Transparent pixels are black under a set AND mask, so they vanish on any background.
            index[ch] = used.index((0, 0, 0)) if reserve_black else 0
        elif rgb in used:
            index[ch] = used.index(rgb)
    return used, index


def row_bytes(bits, width):
    return (bits * width + 31) // 32 * 4


def pack_pixels(indices, bits):
    """Packs one row of colour indices, left pixel in the high bits, padded to 32 bits."""
    out = bytearray(row_bytes(bits, len(indices)))
    per_byte = 8 // bits
    for x, v in enumerate(indices):
        shift = 8 - bits * (x % per_byte + 1)
        out[x // per_byte] |= v << shift
    return bytes(out)


def dib(image, palette, bits, table, index, with_mask):
    colours = 1 << bits
    xor_rows = []
    and_rows = []
    for row in reversed(image.rows):  # device-independent bitmaps are stored bottom-up
        xor_rows.append(pack_pixels([index[ch] for ch in row], bits))
        and_rows.append(pack_pixels([1 if palette[ch] is None else 0 for ch in row], 1))
    pixels = b"".join(xor_rows)
    mask = b"".join(and_rows) if with_mask else b""
    height = image.height * 2 if with_mask else image.height
    header = struct.pack(
        "<IiiHHIIiiII", 40, image.width, height, 1, bits, 0, len(pixels) + len(mask), 0, 0, colours, 0
    )
    ctab = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in table)
    ctab += b"\0" * (4 * colours - len(ctab))
    return header + ctab + pixels + mask


def make_ico(palette, images):
    entries = []
    blobs = []
    for image in images:
        table, index = table_for(image, palette, reserve_black=True)
        if len(table) > 256:
            raise PictureError("an icon image uses more than 256 colours")
        bits = 4 if len(table) <= 16 else 8
        blob = dib(image, palette, bits, table, index, with_mask=True)
        entries.append((image, bits, blob))
        blobs.append(blob)
    offset = 6 + 16 * len(entries)
    out = struct.pack("<HHH", 0, 1, len(entries))
    for image, bits, blob in entries:
        out += struct.pack(
            "<BBBBHHII",
            image.width & 255,
            image.height & 255,
            16 if bits == 4 else 0,
            0,
            1,
            bits,
            len(blob),
            offset,
        )
        offset += len(blob)
    return out + b"".join(blobs)


def make_bmp(palette, images):
    if len(images) != 1:
        raise PictureError("a bitmap source holds exactly one image")
    image = images[0]
    if any(palette[ch] is None for row in image.rows for ch in row):
        raise PictureError("a bitmap has no transparency: give the transparent colour as a real colour")
    table, index = table_for(image, palette, reserve_black=False)
    if len(table) > 16:
        raise PictureError("a 16-colour bitmap uses more than 16 colours")
    body = dib(image, palette, 4, table, index, with_mask=False)
    return struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, 14 + 40 + 64) + body


def grey(rgb):
    r, g, b = rgb
    v = (11 * b + 59 * g + 30 * r) // 100
    return (v, v, v)


def png(width, height, pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + bytes(c for p in pixels[y * width : (y + 1) * width] for c in p) for y in range(height))
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )


def preview(palette, images, scale=8, gap=8):
    """Each image in colour and in grey, enlarged, side by side; one image pair per row."""
    width = gap + max(2 * (im.width * scale + gap) for im in images)
    height = gap + sum(im.height * scale + gap for im in images)
    pixels = [BUTTON_FACE] * (width * height)
    top = gap
    for im in images:
        for copy in range(2):
            left = gap + copy * (im.width * scale + gap)
            for y, row in enumerate(im.rows):
                for x, ch in enumerate(row):
                    rgb = palette[ch]
                    if rgb is None:
                        continue
                    if copy:
                        rgb = grey(rgb)
                    for dy in range(scale):
                        base = (top + y * scale + dy) * width + left + x * scale
                        pixels[base : base + scale] = [rgb] * scale
        top += im.height * scale + gap
    return png(width, height, pixels)


def load(path):
    with open(path, encoding="utf-8") as f:
        return parse(f.read(), path)


def main(argv):
    if len(argv) >= 2 and argv[0] == "--check":
        # Builds each file in memory as its name says (NAME.ico.px or NAME.bmp.px), writes nothing.
        for path in argv[1:]:
            palette, images = load(path)
            if path.endswith(".ico.px"):
                make_ico(palette, images)
            elif path.endswith(".bmp.px"):
                make_bmp(palette, images)
            else:
                raise PictureError(path + ": name must end in .ico.px or .bmp.px")
        return 0
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--preview"):
        sys.stderr.write(__doc__)
        return 2
    source, output = argv[0], argv[1]
    palette, images = load(source)
    if output.lower().endswith(".ico"):
        data = make_ico(palette, images)
    elif output.lower().endswith(".bmp"):
        data = make_bmp(palette, images)
    else:
        raise PictureError("output must end in .ico or .bmp")
    with open(output, "wb") as f:
        f.write(data)
    if len(argv) == 4:
        with open(argv[3], "wb") as f:
            f.write(preview(palette, images))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (PictureError, OSError) as e:
        sys.stderr.write("pixelart: %s\n" % e)
        sys.exit(1)
