"""Helpers of the line-fault tests: the two programs started against the simulator, frames built
the way the adapter builds them, the Linux side of a Wine process, and timing of a close."""

import os
import struct
import time
from pathlib import Path

import krtrig
from krtrig import (FILE_DIALOG_FOLDER, FILE_DIALOG_NAME, QUILLON, QUILLON_CAPTION, VANTREL, VANTREL_CAPTION,
                   crc16_xmodem, quillon_settings, vantrel_settings, wait_until, windows_exe)

READ_BUTTON, CFG_PORT_BUTTON, PARAM_LIST = VANTREL.IDC_READ_BUTTON, VANTREL.IDC_PORT_BUTTON, VANTREL.IDC_PARAM_LIST
CHOOSE_BUTTON, START_BUTTON, PROGRESS = QUILLON.IDC_CHOOSE_BUTTON, QUILLON.IDC_START_BUTTON, QUILLON.IDC_PROGRESS
FINISHED = "Получение данных закончено "
NO_LINK = "Нет связи..."
LOAD_DONE = "Загрузка программы закончена 100%"
DLE, SOH, US, STX, ETX, HT, FF = 0x10, 0x01, 0x1F, 0x02, 0x03, 0x09, 0x0C


def frame(code, data, good_crc=True):
    """DLE SOH DLE US code DLE STX data DLE ETX crc, as hex for the simulator's send-hex."""
    body = bytes([DLE, US, code, DLE, STX]) + data + bytes([DLE, ETX])
    crc = crc16_xmodem(body) ^ (0 if good_crc else 0x0101)
    return (bytes([DLE, SOH]) + body + bytes([crc >> 8, crc & 0xFF])).hex()


def param_answer(param, value, channel=b"0", unit=None):
    item = b"\t" + value + (b"\t" + unit if unit is not None else b"") + b"\x0c"
    return frame(0x03, b"\t" + channel + b"\t" + param + b"\x0c" + item)


def array_answer(param, start, values):
    data = b"\t0\t" + param + b"\t" + start + b"\t" + str(len(values)).encode() + b"\x0c"
    return frame(0x14, data + b"".join(b"\t" + v + b"\x0c" for v in values))


def settings_com3(speed=1200):
    return vantrel_settings(0, speed, [3])


def start_vantrel(rig, sim_speed=1200, sim_args=()):
    """Vantrel on COM3 with the simulator behind it; returns once the search has connected."""
    link = rig.work / "com3"
    rig.map_com(3, link)
    sim = rig.simulator(link, speed=sim_speed, extra=list(sim_args))
    (rig.run_dir / "Vantrel.i").write_bytes(settings_com3())
    rig.start()
    proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
    win = rig.wait_window(VANTREL_CAPTION)
    win.wait_status(1, f"Подключение на COM3 ({sim_speed})", 40)
    return sim, proc, win


def full_read(win, timeout=60):
    win.key("f5")
    win.wait_status(0, FINISHED, timeout)


def start_quillon(rig, sim_args=(), speed_index=5, settings=True):
    """Quillon with the simulator's loader side on COM3 (started before the program opens the port,
    so that its stall of the line works). `settings`: True for COM3 at SpeedTable[speed_index],
    bytes for that settings file, None for none."""
    link = rig.work / "com3"
    rig.map_com(3, link)
    if settings is True:
        settings = quillon_settings(0, speed_index, 0, [3])
    if settings is not None:
        (rig.run_dir / "Quillon.i").write_bytes(settings)
    capture = rig.work / "capture.bin"
    sim = rig.simulator(link, 9600, ["--mode", "loader", "--capture", str(capture)] + list(sim_args))
    rig.start()
    proc = rig.launch(windows_exe("loader/Quillon.exe"))
    win = rig.wait_window(QUILLON_CAPTION)
    return sim, proc, win, capture


def choose_program(rig, win, name, folder=None):
    """The choose button, then the file-open dialog as a user works it: a folder name typed and
    Enter to browse into it, if given, then the file name typed into the same field and Enter."""
    win.click(CHOOSE_BUTTON)
    box = rig.popup(win, "the file-open dialog")
    if folder is not None:
        box.set_text(FILE_DIALOG_NAME, folder)
        box.key("enter")
        wait_until(lambda: box.text(FILE_DIALOG_FOLDER) == folder, 30, f"the dialog to show folder {folder}")
    box.set_text(FILE_DIALOG_NAME, name)
    box.key("enter")
    box.wait_gone(30)


def program_bytes(size):
    """A program file without '+' bytes, so the start sequence stands out in the capture."""
    return bytes(0x30 + (i * 7) % 64 for i in range(size))


def received(capture):
    return capture.read_bytes() if capture.exists() else b""


def wine_pids(rig, exe_name):
    """Linux pids of the processes of this rig's prefix that run exe_name."""
    pids = []
    want = f"WINEPREFIX={rig.prefix}".encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
            if exe_name.encode() not in cmdline:
                continue
            if want not in (entry / "environ").read_bytes().split(b"\0"):
                continue
        except OSError:
            continue
        pids.append(int(entry.name))
    return pids


def rss_kb(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def program_pid(rig, exe_name):
    """The pid of the Windows process itself (the largest of the processes naming the exe)."""
    pids = wait_until(lambda: wine_pids(rig, exe_name), 30, f"the process of {exe_name}")
    return max(pids, key=rss_kb)


def timed_probe(test, call, limit=2.0):
    """Runs one probe call and fails when the window took longer than limit seconds to answer."""
    started = time.monotonic()
    value = call()
    took = time.monotonic() - started
    test.assertLess(took, limit, f"the window took {took:.1f} s to answer the probe")
    return value


class Combo:
    """A combo box of a dialog, through the probe."""

    def __init__(self, window, control):
        self.window, self.control = window, control

    def _call(self, verb, *args):
        return self.window.probe.call(verb, format(self.window.hwnd, "x"), self.control, *args)

    def texts(self):
        count = int(self._call("cbcount"))
        return [bytes.fromhex(self._call("cbtext", i)).decode("cp1251") for i in range(count)]

    def selection(self):
        return int(self._call("cbsel"))

    def choose(self, index):
        if not self.window.enabled(self.control):
            raise AssertionError(f"combo box {self.control} is disabled")
        return int(self._call("cbselect", index))

    def choose_text(self, text):
        index = [t.strip() for t in self.texts()].index(text)
        self._call("cbselect", index)
        return index


class FrameListener:
    """Collects the frames the program sends on a pty peer, each with the time its last byte was
    seen and the line speed the program had set: [(time, speed, bytes)]."""

    def __init__(self, peer):
        self.peer, self.frames, self.pending = peer, [], b""

    def poll(self):
        got = self.peer.read_available()
        if not got:
            return []
        now = time.monotonic()
        self.pending += got
        new = []
        while True:
            start = self.pending.find(bytes([DLE, SOH]))
            end = self.pending.find(bytes([DLE, ETX]), start + 2) if start >= 0 else -1
            if start < 0 or end < 0 or len(self.pending) < end + 4:
                break
            new.append((now, self.peer.speed(), self.pending[start:end + 4]))
            self.pending = self.pending[end + 4:]
        self.frames += new
        return new


def bench_arguments(doc, add_options):
    """The command line shared by the benchmark scripts (--arch, --sim, --work and the script's own
    options added by add_options(parser)); sets up the rig's environment, says which programs run,
    and returns the parsed arguments."""
    import argparse
    p = argparse.ArgumentParser(description=doc.split("\n\n")[0])
    p.add_argument("--arch", choices=("32", "64"), help="the programs to measure (default: as the tests choose)")
    p.add_argument("--sim", help="krt42sim (default: the native build's)")
    p.add_argument("--work", help="work directory for the Wine prefixes (default: a temporary one)")
    add_options(p)
    args = p.parse_args()
    for name, value in (("KRT_WINE_ARCH", args.arch), ("KRT_SIM", args.sim), ("KRT_E2E_WORK", args.work)):
        if value:
            # Wine wants absolute paths for everything it is handed.
            os.environ[name] = value if name == "KRT_WINE_ARCH" else str(Path(value).resolve())
    try:
        arch = krtrig.choose_arch()
        for need in ("tests/win32/probe.exe", "configurator/Vantrel.exe", "loader/Quillon.exe"):
            windows_exe(need, arch)
        krtrig.simulator_exe()
    except krtrig.RigError as e:
        raise SystemExit(f"{e}: build first (./scripts/test.sh, or cmake --build build/win{arch.bits})")
    print(f"bench: {arch.describe()}")
    return args
