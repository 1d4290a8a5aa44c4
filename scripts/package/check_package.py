#!/usr/bin/env python3
"""Makes the release packages twice, in different build and output folders, and checks them.

    check_package.py WORK_DIR

Checks: the two runs give byte-identical zips and .deb; each zip holds exactly the three programs
and the read-me; the win32 programs are PE32 for i386 and the win64 ones PE32+ for x86-64, krt42.exe
a console program, and the About boxes carry the number in VERSION; the read-me is UTF-8 with a BOM
and CRLF line ends; every status text the read-me quotes is one the programs can show. The .deb:
see check_deb.py.
"""
import re
import shutil
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

sys.dont_write_bytecode = True  # no cache folder left in the source tree
import check_deb  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
ENTRIES = ["Vantrel.exe", "Quillon.exe", "krt42.exe", "README_RU.txt"]
WINDOWED = ["Vantrel.exe", "Quillon.exe"]
# PE optional header: the subsystem field, and its values for window and console programs.
SUBSYSTEM_OFFSET, GUI, CONSOLE = 68, 2, 3
# zip suffix: (COFF machine, optional header magic)
KINDS = {"win32": (0x14C, 0x10B), "win64": (0x8664, 0x20B)}

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)


def pe_kind(data):
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe : pe + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, pe + 4)[0], struct.unpack_from("<H", data, pe + 24)[0]


def pe_subsystem(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, pe + 24 + SUBSYSTEM_OFFSET)[0]


def program_texts():
    """Regexes for the string literals of the programs' sources, printf fields as numbers."""
    literal = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
    patterns = []
    for folder in ("adapter", "configurator", "loader", "portselect"):
        for path in sorted(p for p in (ROOT / folder).iterdir() if p.suffix in (".cpp", ".h")):
            for text in literal.findall(path.read_text(encoding="utf-8")):
                parts = [re.escape(p.replace("%%", "%")) for p in re.split(r"%d", text)]
                patterns.append(re.compile(r"\d+".join(parts)))
    return patterns


def check_readme(name, data):
    check(data.startswith(b"\xef\xbb\xbf"), f"{name}: README_RU.txt has no UTF-8 BOM")
    crlf = b"\n" in data and data.count(b"\n") == data.count(b"\r\n")
    check(crlf, f"{name}: README_RU.txt is not CRLF")
    text = data.decode("utf-8-sig")
    patterns = program_texts()
    quoted = re.findall(r"«([^»]*)»", text)
    check(len(quoted) >= 10, f"{name}: README_RU.txt quotes only {len(quoted)} status texts")
    for q in quoted:
        shown = any(p.fullmatch(q) for p in patterns)
        check(shown, f"{name}: README_RU.txt quotes «{q}», which no program shows")


def main():
    work = Path(sys.argv[1]).resolve()
    shutil.rmtree(work, ignore_errors=True)
    version = (ROOT / "VERSION").read_text().splitlines()[0].strip()
    # Build roots of different lengths: a build path that leaks into a program shows as a diff.
    runs = [
        (work / "one" / "out", work / "one" / "b"),
        (work / "second-run" / "out", work / "second-run" / "build-root"),
    ]
    for out, build in runs:
        script = ROOT / "scripts" / "package.sh"
        subprocess.run([str(script), "--out", str(out), "--build", str(build)], check=True)

    for suffix, (machine, magic) in KINDS.items():
        zip_name = f"krt42-tools-{version}-{suffix}.zip"
        first, second = (out / zip_name for out, _ in runs)
        missing = [z for z in (first, second) if not z.is_file()]
        for z in missing:
            check(False, f"{z} was not written")
        if missing:
            continue
        check(first.read_bytes() == second.read_bytes(), f"{zip_name}: the two runs differ")
        with zipfile.ZipFile(first) as z:
            check(z.namelist() == ENTRIES, f"{zip_name}: entries {z.namelist()}, not {ENTRIES}")
            check(z.testzip() is None, f"{zip_name}: a damaged entry")
            for exe in ENTRIES[:-1]:
                data = z.read(exe) if exe in z.namelist() else b""
                kind = pe_kind(data)
                check(kind == (machine, magic), f"{zip_name}: {exe} is {kind}, not {(machine, magic)}")
                if kind is None:
                    continue
                # A console krt42.exe keeps its output in the technician's cmd window.
                want = GUI if exe in WINDOWED else CONSOLE
                check(pe_subsystem(data) == want, f"{zip_name}: {exe} has subsystem {pe_subsystem(data)}, not {want}")
                if exe in WINDOWED:
                    about = f"Версия {version}".encode("utf-16-le")
                    check(about in data, f"{zip_name}: {exe} does not show 'Версия {version}'")
            if "README_RU.txt" in z.namelist():
                check_readme(zip_name, z.read("README_RU.txt"))

    deb_name = f"krt42_{version}_{check_deb.architecture()}.deb"
    first, second = (out / deb_name for out, _ in runs)
    if first.is_file() and second.is_file():
        check(first.read_bytes() == second.read_bytes(), f"{deb_name}: the two runs differ")
        failures.extend(check_deb.check(first, version, work / "deb", runs[0][1] / "linux"))
    else:
        check(False, f"{deb_name} was not written")

    for f in failures:
        print("FAIL:", f)
    if failures:
        sys.exit(1)
    print(f"package: both runs gave the same {len(KINDS)} zips and {deb_name} of version {version}")


if __name__ == "__main__":
    main()
