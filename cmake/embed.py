"""Writes a C++ file that holds the given files as the station's assets (station/Assets.h): the
page is built into the program, with no step that needs anything but Python."""

import sys
from pathlib import Path

TYPES = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript; charset=utf-8",
    ".css": "text/css; charset=utf-8",
    ".svg": "image/svg+xml",
    ".png": "image/png",
    ".ico": "image/x-icon",
    ".txt": "text/plain; charset=utf-8",
}


def main():
    out, root, files = Path(sys.argv[1]), Path(sys.argv[2]), [Path(f) for f in sys.argv[3:]]
    lines = ["// Made by cmake/embed.py from station/web: do not edit.", '#include "station/Assets.h"', "",
             "namespace station {", "", "namespace {", ""]
    entries = []
    for k, path in enumerate(sorted(files)):
        data = path.read_bytes()
        name = "/" + path.relative_to(root).as_posix()
        body = ",".join(str(b) for b in data) or "0"
        lines.append(f"const unsigned char kData{k}[] = {{{body}}};")
        kind = TYPES.get(path.suffix, "application/octet-stream")
        entries.append(f'    {{"{name}", "{kind}", reinterpret_cast<const char*>(kData{k}), {len(data)}}},')
    lines += ["", "const Asset kAssets[] = {", *entries, "};", "", "}  // namespace", "",
              "const Asset* FindAsset(const std::string& path) {",
              "    for (const Asset& asset : kAssets) {",
              "        if (path == asset.path) return &asset;",
              "    }",
              "    return nullptr;",
              "}", "", "}  // namespace station", ""]
    text = "\n".join(lines)
    if not out.exists() or out.read_text() != text:
        out.write_text(text)


if __name__ == "__main__":
    main()
