"""The end-to-end rig: the real Windows programs under Wine, on a private X server, with their COM
ports on pseudo-terminals, observed and driven through the probe program.

Every rig is isolated: its own work directory, its own copy of a prepared Wine prefix, its own Xvfb
(display number from -displayfd), its own pseudo-terminals and simulator. Everything it starts is
ended on close, and a reaper process ends it too if the test process itself is killed.

Environment (set by the CMake registration, see CMakeLists.txt):
  KRT_WIN32_DIR  the Windows build tree (probe.exe, the programs)
  KRT_SIM        the simulator executable (may be empty)
  KRT_E2E_WORK   a work directory for the cached template prefix and the test directories
  KRT_E2E_KEEP   "1": keep each test's prefix copy after the test (for debugging)
"""

import contextlib
import fcntl
import os
import selectors
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest
from pathlib import Path

# Changing how the template is made must change this, so that cached templates are rebuilt.
TEMPLATE_RECIPE = "krt-template-3"
DESKTOP_SIZE = "1024x768"
STATUS_BAR_ID = 59393

_WINE_BASE_ENV = {
    "WINEARCH": "win32",
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
}


class RigError(Exception):
    pass


class ProbeError(RigError):
    pass


def wait_until(condition, timeout, what, interval=0.05):
    """Polls condition() until it gives a true value, which is returned; fails after timeout s."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def work_root():
    root = os.environ.get("KRT_E2E_WORK")
    if not root:
        root = os.path.join(tempfile.gettempdir(), f"krt-rig-{os.getuid()}")
    Path(root).mkdir(parents=True, exist_ok=True)
    return Path(root)


def win32_dir():
    d = os.environ.get("KRT_WIN32_DIR")
    if not d:
        raise unittest.SkipTest("KRT_WIN32_DIR is not set")
    return Path(d)


def win32_exe(relative):
    """Path of a program of the Windows build; skips the test while it has not been built."""
    path = win32_dir() / relative
    if not path.exists():
        raise unittest.SkipTest(f"{relative} is not built in {win32_dir()}")
    return path


def simulator_exe():
    path = os.environ.get("KRT_SIM", "")
    if not path or not os.path.exists(path):
        raise unittest.SkipTest("the simulator krt42sim is not built")
    return path


# ----------------------------------------------------------------------------------------------
# Locale and the template prefix

_locale_env = None


def locale_env():
    """LC_ALL (and LOCPATH if the system lacks it) for a Russian Windows: ANSI 1251, OEM 866."""
    global _locale_env
    if _locale_env is not None:
        return _locale_env
    names = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split()
    if "ru_ru.utf8" in names or "ru_ru.utf-8" in names:
        _locale_env = {"LC_ALL": "ru_RU.UTF-8"}
        return _locale_env
    locpath = work_root() / "locale"
    if not (locpath / "ru_RU.UTF-8").exists():
        locpath.mkdir(parents=True, exist_ok=True)
        subprocess.run(["localedef", "-i", "ru_RU", "-f", "UTF-8", str(locpath / "ru_RU.UTF-8")],
                       check=True, capture_output=True)
    _locale_env = {"LC_ALL": "ru_RU.UTF-8", "LOCPATH": str(locpath)}
    return _locale_env


def wine_env(prefix, display=None):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.update(_WINE_BASE_ENV)
    env.update(locale_env())
    env["WINEPREFIX"] = str(prefix)
    if display is not None:
        env["DISPLAY"] = f":{display}"
    return env


def _wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()


def _run_wine(args, env, log, timeout=120):
    subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                   timeout=timeout, check=True)


def ensure_template():
    """The prepared prefix that every test copies: made once per work directory, under a lock so
    that tests started together do not make it twice."""
    root = work_root()
    template = root / "template"
    stamp = template / ".krt-template"
    want = f"{TEMPLATE_RECIPE} {_wine_version()}"
    with open(root / "template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if stamp.exists() and stamp.read_text() == want:
            return template
        shutil.rmtree(template, ignore_errors=True)
        # Under the lock nobody else is building: what lies around is from a run that was killed.
        for stale in root.glob("template.building-*"):
            shutil.rmtree(stale, ignore_errors=True)
        building = root / f"template.building-{os.getpid()}"
        env = wine_env(building)
        with open(root / "template-build.log", "w") as log:
            try:
                _run_wine(["wineboot", "-i"], env, log)
                # A crashing program must end at once instead of waiting in the debugger.
                _run_wine(["wine", "reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug",
                           "/v", "Debugger", "/t", "REG_SZ", "/d", "", "/f"], env, log)
                # Every program runs on one virtual desktop: windows get captions and one foreground
                # window exists without a window manager.
                _run_wine(["wine", "reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop",
                           "/t", "REG_SZ", "/d", "Default", "/f"], env, log)
                _run_wine(["wine", "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default",
                           "/t", "REG_SZ", "/d", DESKTOP_SIZE, "/f"], env, log)
                _run_wine(["wineserver", "-w"], env, log)
            finally:
                subprocess.run(["wineserver", "-k"], env=env, stdout=log, stderr=log)
        (building / ".krt-template").write_text(want)
        os.rename(building, template)
        return template


def _add_registry_values(reg_file, key, values):
    """Adds string values to a key of a stopped prefix's registry file (the key must exist)."""
    text = reg_file.read_text(encoding="utf-8")
    head = "[" + key.replace("\\", "\\\\") + "]"
    start = text.find("\n" + head)
    if start < 0:
        raise RigError(f"{head} not in {reg_file}")
    end = text.find("\n\n", start + 1)
    lines = "".join(f'\n"{name}"="{value.replace(chr(92), chr(92) * 2)}"' for name, value in values.items())
    reg_file.write_text(text[:end] + lines + text[end:], encoding="utf-8")


# ----------------------------------------------------------------------------------------------
# Pseudo-terminals owned the safe way


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
            [sys.executable, os.path.abspath(__file__), "hold-tty", str(self.slave)],
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


def _hold_tty(fd):
    """Holder process: owns the slave as its controlling terminal until its stdin closes."""
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    try:
        fcntl.ioctl(fd, termios.TIOCSCTTY, 0)
    except OSError:
        fcntl.ioctl(fd, termios.TIOCSCTTY, 1)
    sys.stdout.write("HELD\n")
    sys.stdout.flush()
    sys.stdin.buffer.read()


# ----------------------------------------------------------------------------------------------
# The simulated adapter


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


# ----------------------------------------------------------------------------------------------
# The probe and the windows it sees


class LineProgram:
    """A console program under Wine that answers each command line with one line: "OK ..." or
    "ERR ..." (the probe, the driver stepper). call() gives the text after "OK"."""

    def __init__(self, proc, start_timeout=60):
        self.proc = proc
        first = self._line(start_timeout)
        if first != "READY":
            raise RigError(f"{proc.args} did not start: {first!r}")

    def _line(self, timeout):
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        if not sel.select(timeout):
            raise ProbeError(f"{self.proc.args[1]} did not answer within {timeout} s")
        line = self.proc.stdout.readline()
        if not line:
            raise ProbeError(f"{self.proc.args[1]} ended")
        return line.decode("ascii", "replace").strip()

    def call(self, *words, timeout=30):
        self.proc.stdin.write((" ".join(str(w) for w in words) + "\n").encode())
        self.proc.stdin.flush()
        answer = self._line(timeout)
        if answer == "OK":
            return ""
        if answer.startswith("OK "):
            return answer[3:]
        raise ProbeError(f"{' '.join(str(w) for w in words)[:80]}: {answer}")

    def close(self):
        if self.proc.poll() is None:
            with contextlib.suppress(Exception):
                self.call("quit", timeout=10)


class Probe(LineProgram):
    """probe.exe: finds and reads the programs' windows, presses their keys and buttons."""

    def find(self, caption):
        return int(self.call("find", caption.encode("cp1251").hex()), 16)


def _text(hex_answer):
    return bytes.fromhex(hex_answer).decode("cp1251")


class Window:
    """A top-level dialog of a program, as the probe sees it. Control ids are numbers; None means
    the window itself."""

    def __init__(self, probe, hwnd, caption=""):
        self.probe, self.hwnd, self.caption = probe, hwnd, caption

    def _h(self):
        return format(self.hwnd, "x")

    @staticmethod
    def _id(control):
        return "-" if control is None else str(control)

    def exists(self):
        return self.probe.call("exists", self._h()) == "1"

    def enabled(self, control=None):
        return self.probe.call("enabled", self._h(), self._id(control)) == "1"

    def visible(self, control=None):
        return self.probe.call("visible", self._h(), self._id(control)) == "1"

    def text(self, control=None):
        return _text(self.probe.call("text", self._h(), self._id(control)))

    def status(self, part):
        return _text(self.probe.call("sbtext", self._h(), part))

    def status_parts(self):
        return int(self.probe.call("sbparts", self._h()))

    def list_count(self, control):
        return int(self.probe.call("lvcount", self._h(), control))

    def list_text(self, control, row, column):
        return _text(self.probe.call("lvtext", self._h(), control, row, column))

    def list_image(self, control, row):
        return int(self.probe.call("lvimage", self._h(), control, row))

    def list_state(self, control, row):
        return int(self.probe.call("lvstate", self._h(), control, row))

    def progress(self, control):
        return int(self.probe.call("pbpos", self._h(), control))

    def rect(self, control=None):
        return tuple(int(v) for v in self.probe.call("rect", self._h(), self._id(control)).split())

    def key(self, name):
        self.probe.call("key", self._h(), name)

    def click(self, control):
        """Clicks a button the way a user can: a disabled button cannot be clicked (Wine would fire
        BM_CLICK on it all the same, hiding 'must be disabled' faults)."""
        if not self.enabled(control):
            raise AssertionError(f"button {control} of {self.caption!r} is disabled")
        self.probe.call("click", self._h(), control)

    def mouse(self, control, action, x=None, y=None):
        words = ["mouse", self._h(), self._id(control), action]
        if x is not None:
            words += [x, y]
        return self.probe.call(*words)

    def close(self):
        self.probe.call("close", self._h())

    def cancel(self):
        self.probe.call("cancel", self._h())

    def wait_gone(self, timeout=30):
        wait_until(lambda: not self.exists(), timeout, f"window {self.caption!r} to close")

    def wait_status(self, part, want, timeout, seen=None):
        """Waits until status part `part` reads `want` (a text or a predicate); every distinct text
        seen on the way is appended to `seen`."""
        check = want if callable(want) else (lambda t: t == want)

        def poll():
            text = self.status(part)
            if seen is not None and (not seen or seen[-1] != text):
                seen.append(text)
            return check(text)

        wait_until(poll, timeout, f"status part {part} to read {want!r} (seen: {seen})", interval=0.02)
        return self.status(part)


# ----------------------------------------------------------------------------------------------
# The rig


class Rig:
    """One isolated Wine world. Use as a context manager:

        with Rig("name") as rig:
            rig.map_com(3, rig.work / "com3")      # before start()
            rig.start()
            proc = rig.launch(win32_exe("configurator/Vantrel.exe"))
            window = rig.wait_window("Vantrel")
    """

    def __init__(self, name):
        self.name = name
        tests = work_root() / "tests"
        tests.mkdir(exist_ok=True)
        self.work = Path(tempfile.mkdtemp(prefix=f"{name}-", dir=tests))
        self.prefix = self.work / "prefix"
        self.run_dir = self.work / "run"
        self.run_dir.mkdir()
        self.wine_log_path = self.work / "wine-stderr.log"
        self.wine_log = open(self.wine_log_path, "ab")
        self.display = None
        self.xvfb = None
        self.reaper = None
        self.probe = None
        self.programs = []
        self.peers = []
        self.simulators = []
        self.com_ports = {}
        self.started = False
        self._start_reaper()

    # -- set-up

    def map_com(self, number, link):
        """Maps COMn to a link path (before start); the link may point at a pty made later."""
        if self.started:
            raise RigError("map_com after start")
        self.com_ports[f"COM{number}"] = str(link)

    def pty_peer(self, link):
        peer = PtyPeer(link)
        self.peers.append(peer)
        return peer

    def simulator(self, link, speed=None, extra=(), log_name="sim.log"):
        sim = Simulator(link, self.work / log_name, speed, extra)
        self.simulators.append(sim)
        self._reaper_watch(sim.proc.pid)
        return sim

    def start(self):
        started_at = time.monotonic()
        template = ensure_template()
        subprocess.run(["cp", "-a", str(template), str(self.prefix)], check=True)
        if self.com_ports:
            _add_registry_values(self.prefix / "system.reg", r"Software\Wine\Ports", self.com_ports)
        self._start_xvfb()
        self.started = True
        self.probe = Probe(self._spawn([str(win32_exe("tests/win32/probe.exe"))], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE))
        self.startup_seconds = time.monotonic() - started_at
        return self

    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        log = open(self.work / "xvfb.log", "wb")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{DESKTOP_SIZE}x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
            start_new_session=True)
        os.close(write_fd)
        log.close()
        self._reaper_watch(self.xvfb.pid)
        number = b""
        deadline = time.monotonic() + 30
        with os.fdopen(read_fd, "rb", buffering=0) as pipe:
            sel = selectors.DefaultSelector()
            sel.register(pipe, selectors.EVENT_READ)
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not sel.select(left):
                    raise RigError("Xvfb gave no display number")
                chunk = pipe.read(16)
                if not chunk:
                    raise RigError("Xvfb ended: " + (self.work / "xvfb.log").read_text(errors="replace"))
                number += chunk
        self.display = int(number.strip())

    def _start_reaper(self):
        self.reaper = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "reaper", str(os.getpid()), str(self.prefix)],
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)

    def _reaper_watch(self, pid):
        if self.reaper and self.reaper.poll() is None:
            self.reaper.stdin.write(f"{pid}\n".encode())
            self.reaper.stdin.flush()

    def env(self):
        return wine_env(self.prefix, self.display)

    def _spawn(self, args, **kw):
        kw.setdefault("stdin", subprocess.DEVNULL)
        kw.setdefault("stdout", self.wine_log)
        return subprocess.Popen(["wine"] + args, env=self.env(), cwd=self.run_dir, stderr=self.wine_log,
                                start_new_session=True, **kw)

    def console(self, exe, *args):
        """Starts a line-command console program (see LineProgram); it is ended with the rig."""
        proc = self._spawn([str(exe)] + [str(a) for a in args], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.programs.append(proc)
        return LineProgram(proc)

    def launch(self, exe, *args):
        """Starts a Windows program with the run directory as its current directory."""
        proc = self._spawn([str(exe)] + [str(a) for a in args])
        self.programs.append(proc)
        return proc

    def wait_window(self, caption, timeout=60):
        """Waits for a dialog with that caption to be shown. A dialog is found by caption as soon as
        it is created, but its initialisation (which makes its status bar, for one) ends before it
        becomes visible."""

        def shown():
            hwnd = self.probe.find(caption)
            return hwnd if hwnd and Window(self.probe, hwnd).visible() else 0

        hwnd = wait_until(shown, timeout, f"window {caption!r}", interval=0.1)
        return Window(self.probe, hwnd, caption)

    def wait_exit(self, proc, timeout=30):
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"program did not end within {timeout} s")

    def screenshot(self, path):
        subprocess.run(["import", "-display", f":{self.display}", "-window", "root", str(path)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    # -- teardown

    def close(self, failed=False):
        if failed and self.display is not None:
            with contextlib.suppress(Exception):
                self.screenshot(self.work / "failure.png")
        if self.probe:
            with contextlib.suppress(Exception):
                self.probe.close()
        if self.started:
            env = self.env()
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run(["wineserver", "-k"], env=env, stdout=self.wine_log, stderr=self.wine_log,
                               timeout=30)
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run(["wineserver", "-w"], env=env, stdout=self.wine_log, stderr=self.wine_log,
                               timeout=30)
        for proc in self.programs + ([self.probe.proc] if self.probe else []):
            _end(proc)
        for sim in self.simulators:
            with contextlib.suppress(Exception):
                sim.close()
        for peer in self.peers:
            peer.close()
        if self.xvfb:
            _end(self.xvfb)
        if self.reaper:
            _end(self.reaper)
        self.wine_log.close()
        if os.environ.get("KRT_E2E_KEEP") != "1":
            shutil.rmtree(self.prefix, ignore_errors=True)
            if not failed:
                shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        self.close(failed=kind is not None)
        if kind is not None:
            print(f"\n[rig {self.name}] kept logs in {self.work}", file=sys.stderr)
            tail = self.wine_log_path.read_bytes()[-1500:].decode("utf-8", "replace") \
                if self.wine_log_path.exists() else ""
            if tail.strip():
                print(f"[rig {self.name}] end of wine-stderr.log:\n{tail}", file=sys.stderr)
        return False


def _end(proc, grace=5):
    if proc.poll() is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(proc.pid, signal.SIGTERM) if _is_group_leader(proc.pid) else proc.terminate()
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(proc.pid, signal.SIGKILL) if _is_group_leader(proc.pid) else proc.kill()
            proc.wait()
    for stream in (proc.stdin, proc.stdout):
        if stream:
            with contextlib.suppress(Exception):
                stream.close()


def _is_group_leader(pid):
    try:
        return os.getpgid(pid) == pid
    except ProcessLookupError:
        return False


def _reaper(parent, prefix):
    """Ends a rig's processes if its test process dies without closing it (killed by a time-out)."""
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    os.set_blocking(sys.stdin.fileno(), False)
    pids, pending = [], b""
    while os.getppid() == parent:
        try:
            chunk = os.read(sys.stdin.fileno(), 1024)
            if not chunk:  # the rig closed normally
                return
            pending += chunk
            *lines, pending = pending.split(b"\n")
            pids += [int(x) for x in lines if x.strip()]
        except BlockingIOError:
            pass
        time.sleep(0.5)
    if Path(prefix).is_dir():
        env = wine_env(prefix)
        with contextlib.suppress(subprocess.TimeoutExpired):
            subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=30)
    # A polite signal first: the simulator ends the helper process that owns its pty.
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in pids:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(pid, sig)
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, sig)
        time.sleep(2)
    if os.environ.get("KRT_E2E_KEEP") != "1":
        shutil.rmtree(prefix, ignore_errors=True)


def read_ints(path, count):
    data = Path(path).read_bytes()
    return len(data), struct.unpack_from(f"<{count}i", data) if len(data) >= 4 * count else None


def main():
    """Runs the calling test module; a module whose tests were all skipped says so to CTest."""
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    if result.testsRun and len(result.skipped) == result.testsRun:
        print("SKIPPED_ALL: " + "; ".join(sorted({reason for _, reason in result.skipped})))
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    if sys.argv[1:2] == ["hold-tty"]:
        _hold_tty(int(sys.argv[2]))
    elif sys.argv[1:2] == ["reaper"]:
        _reaper(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1:2] == ["template"]:
        print(ensure_template())
    else:
        sys.exit("usage: krtrig.py template | hold-tty FD | reaper PID PREFIX")
