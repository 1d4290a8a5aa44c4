#!/usr/bin/env python3
"""Writes one release zip: the programs and the technician's read-me.

The archive depends on nothing but its inputs (fixed entry order, times and attributes), so the
same sources give the same bytes and a release can be rebuilt and compared.

    make_zip.py OUT.zip README_RU.txt PROGRAM.exe...
"""
import os
import sys
import zipfile

# The earliest time a zip entry can hold; any fixed value would do.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)
BOM = b"\xef\xbb\xbf"


def readme_for_windows(path):
    # Notepad before Windows 10 takes BOM-less text for the ANSI code page and shows LF-only
    # text on one line: the read-me goes out as UTF-8 with a BOM and CRLF line ends.
    text = open(path, "rb").read()
    if text.startswith(BOM):
        text = text[len(BOM):]
    text.decode("utf-8")  # a broken source must stop the release, not reach a technician
    lines = text.replace(b"\r\n", b"\n").split(b"\n")
    return BOM + b"\r\n".join(lines)


def entry(name):
    info = zipfile.ZipInfo(name, date_time=FIXED_TIME)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # Unix, so that the mode below is honoured when unpacked there
    info.external_attr = 0o100644 << 16
    return info


def main():
    if len(sys.argv) < 4:
        sys.exit("usage: " + __doc__.strip().splitlines()[-1].strip())
    out, readme, programs = sys.argv[1], sys.argv[2], sys.argv[3:]
    members = [(os.path.basename(p), open(p, "rb").read()) for p in programs]
    members.append(("README_RU.txt", readme_for_windows(readme)))
    # Written beside the target and renamed: an interrupted run leaves no half archive.
    partial = out + ".part"
    with zipfile.ZipFile(partial, "w") as z:
        for name, data in members:
            z.writestr(entry(name), data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    os.replace(partial, out)


if __name__ == "__main__":
    main()
