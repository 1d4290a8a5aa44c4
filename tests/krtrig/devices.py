"""The far ends of the COM ports: raw pseudo-terminals owned the safe way, and krt42sim, the
simulated KRT42 adapter."""

import contextlib
import fcntl
import os
import selectors
import signal
import subprocess
import sys
import termios
import time
import tty
from pathlib import Path

from .host import ROOT, RigError

PACKAGE_PARENT = str(Path(__file__).resolve().parent.parent)


def helper_command(*words):
    """A command line that runs this package's own command-line entry (python -m krtrig)."""
    return [sys.executable, "-c", f"import sys; sys.path.insert(0, {PACKAGE_PARENT!r}); "
            "from krtrig.__main__ import main; main()"] + [str(w) for w in words]


def simulator_exe():
    """krt42sim: $KRT_SIM, else the native build's. Missing is a failure, never a skip."""
    path = os.environ.get("KRT_SIM") or str(ROOT / "build" / "native" / "simulator" / "krt42sim")
    if not os.access(path, os.X_OK):
        raise RigError(f"the simulator {path} is not built (cmake --build build/native --target krt42sim)")
    return path


def make_link(link, target):
    """Points link at target atomically: a reader never sees the link missing."""
    link = Path(link)
    tmp = link.with_name(link.name + f".new-{os.getpid()}")
    with contextlib.suppress(FileNotFoundError):
        tmp.unlink()
    os.symlink(target, tmp)
    os.replace(tmp, link)


class PtyPeer:
    """The far end of a COM port: a raw pseudo-terminal whose slave is the controlling terminal of
    a small holder process in its own session. Nobody else (the wineserver in particular) can then
    adopt it, so a 0x03 byte kills nothing and closing the master sends no SIGHUP to Wine."""

    def __init__(self, link):
        self.link = Path(link)
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.holder = subprocess.Popen(
            helper_command("hold-tty", self.slave),
            pass_fds=(self.slave,), start_new_session=True, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if self.holder.stdout.readline().strip() != b"HELD":
            raise RigError("the pty holder did not take the terminal")
        self.slave_path = os.ttyname(self.slave)
        make_link(self.link, self.slave_path)

    def speed(self):
        """The line speed that the program set on its side, in bit/s."""
        return _BAUD_BY_CONSTANT.get(termios.tcgetattr(self.slave)[5], -1)

    def write(self, data, timeout=10):
        """Writes all of data; fails if the program leaves the line full for timeout s."""
        view = memoryview(data)
        deadline = time.monotonic() + timeout
        while view:
            try:
                n = os.write(self.master, view)
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise AssertionError(f"the line stayed full: {len(view)} bytes not written")
                time.sleep(0.01)
                continue
            view = view[n:]

    def read_available(self):
        chunks = []
        while True:
            try:
                chunk = os.read(self.master, 65536)
            except (BlockingIOError, OSError):
                break
            if not chunk:
                break
            chunks.append(chunk)
        return b"".join(chunks)

    def read_exactly(self, count, timeout):
        data = bytearray()
        deadline = time.monotonic() + timeout
        while len(data) < count and time.monotonic() < deadline:
            got = self.read_available()
            if got:
                data += got
            else:
                time.sleep(0.01)
        return bytes(data)

    def unplug(self):
        """Pulls the cable: the master closes, the program's port goes dead."""
        os.close(self.master)
        self.master = -1

    def close(self):
        for fd in (self.master, self.slave):
            if fd >= 0:
                with contextlib.suppress(OSError):
                    os.close(fd)
        self.master = self.slave = -1
        self.holder.stdin.close()
        try:
            self.holder.wait(10)
        except subprocess.TimeoutExpired:
            self.holder.kill()
            self.holder.wait()
        self.holder.stdout.close()


_BAUD_BY_CONSTANT = {getattr(termios, f"B{b}"): b for b in (
    50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200,
    230400) if hasattr(termios, f"B{b}")}


def hold_tty(fd):
    """Holder process: owns the slave as its controlling terminal until its stdin closes."""
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    try:
        fcntl.ioctl(fd, termios.TIOCSCTTY, 0)
    except OSError:
        fcntl.ioctl(fd, termios.TIOCSCTTY, 1)
    sys.stdout.write("HELD\n")
    sys.stdout.flush()
    sys.stdin.buffer.read()


class Simulator:
    """krt42sim on its own pty, reached through a link path that a COM port maps to."""

    def __init__(self, link, log, speed=None, extra=()):
        self.log_path = Path(log)
        args = [simulator_exe(), "--link", str(link), "--log", str(self.log_path)]
        if speed is not None:
            args += ["--speed", str(speed)]
        args += list(extra)
        self.stderr = open(self.log_path.with_suffix(".stderr"), "wb")
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
                                     start_new_session=True)
        line = self._line(20)
        if not line.startswith("READY"):
            raise RigError(f"simulator did not start: {line!r}")

    def _line(self, timeout):
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        if not sel.select(timeout):
            raise RigError("simulator did not answer")
        return self.proc.stdout.readline().decode("utf-8", "replace").strip()

    def command(self, text):
        self.proc.stdin.write((text + "\n").encode())
        self.proc.stdin.flush()
        line = self._line(10)
        if not line.startswith("OK"):
            raise RigError(f"simulator refused {text!r}: {line!r}")
        return line

    def stats(self):
        """The simulator's counters: rx_bytes, frames, answered, ... as integers."""
        words = self.command("stats").split()[1:]
        return {k: int(v) for k, v in (w.split("=", 1) for w in words if "=" in w)}

    def log_lines(self):
        if not self.log_path.exists():
            return []
        return self.log_path.read_text(encoding="utf-8", errors="replace").splitlines()

    def requests(self):
        """The frames the simulator received, in order: (speed, hex, answered) where answered is
        False for frames ignored at a wrong speed or left unanswered."""
        frames = []
        for line in self.log_lines():
            words = line.split(" ")
            if words[0] in ("RX", "IGNORED") and words[1].startswith("speed="):
                hex_text = line.split("hex=", 1)[1].split(" |", 1)[0].strip()
                frames.append([int(words[1][6:]), hex_text, False])
            elif words[0] == "TX" and frames and not line.startswith("TX R"):
                frames[-1][2] = True
        return [tuple(f) for f in frames]

    def close(self):
        if self.proc.poll() is None:
            with contextlib.suppress(Exception):
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.flush()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.stderr):
            with contextlib.suppress(Exception):
                stream.close()
