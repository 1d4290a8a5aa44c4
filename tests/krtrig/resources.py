"""What the tests know of the programs themselves, each written once: control and resource ids
read from the programs' own resource headers, and the two settings-file records."""

import re
import struct
from pathlib import Path
from types import SimpleNamespace

from .host import ROOT

_DEFINE = re.compile(r"^\s*#define\s+(\w+)\s+(-?(?:0x[0-9A-Fa-f]+|\d+))\s*(?://.*)?$")


def read_ids(header):
    """The numeric #defines of a resource header, as attributes."""
    values = {}
    for line in Path(header).read_text(encoding="utf-8").splitlines():
        m = _DEFINE.match(line)
        if m:
            values[m.group(1)] = int(m.group(2), 0)
    if not values:
        raise ValueError(f"no ids in {header}")
    return SimpleNamespace(**values)


VANTREL = read_ids(ROOT / "configurator" / "resource.h")
QUILLON = read_ids(ROOT / "loader" / "resource.h")
SELECTCOM = read_ids(ROOT / "portselect" / "SelectCOMIds.h")

# Ids that Windows fixes: the dialog buttons, and the controls of the common file-open dialog
# (cmb13, the file-name box, and cmb2, the folder list).
IDOK, IDCANCEL, IDC_STATIC = 1, 2, -1
FILE_DIALOG_NAME, FILE_DIALOG_FOLDER = 1148, 1137

# Captions by which the windows are found.
VANTREL_CAPTION = "Vantrel"
QUILLON_CAPTION = "Загрузчик 42"

# ----------------------------------------------------------------------------------------------
# Settings files: 32-bit little-endian integers, no header.

VANTREL_RECORD = struct.Struct("<66i")  # SelectedPortIndex, LineSpeed, PortTable[64]
QUILLON_RECORD = struct.Struct("<19i")  # SelectedPortIndex, SelectedSpeedIndex, reserved, PortTable[16]


def _table(ports, size):
    ports = list(ports)
    if len(ports) > size:
        raise ValueError(f"at most {size} ports")
    return ports + [0] * (size - len(ports))


def vantrel_settings(port_index=-1, line_speed=4800, ports=()):
    """The 264 bytes of "Vantrel.i"."""
    return VANTREL_RECORD.pack(port_index, line_speed, *_table(ports, 64))


def quillon_settings(port_index=0, speed_index=6, reserved=0, ports=()):
    """The 76 bytes of "Quillon.i"."""
    return QUILLON_RECORD.pack(port_index, speed_index, reserved, *_table(ports, 16))


def read_settings(path, record):
    """(size of the file, its record's fields or None when it is shorter than the record)."""
    data = Path(path).read_bytes()
    return len(data), record.unpack_from(data) if len(data) >= record.size else None
