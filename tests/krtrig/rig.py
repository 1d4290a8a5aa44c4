"""One isolated Wine world: its own work directory, its own copy of the prepared prefix, its own
Xvfb (display number from -displayfd), its own pseudo-terminals and simulators. Everything it
starts is ended on close, and a reaper process ends it too if the test process itself is killed."""

import contextlib
import os
import selectors
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from . import host
from .devices import PtyPeer, Simulator, helper_command
from .host import DESKTOP_SIZE, RigError
from .windows import Probe, LineProgram, Window, handle, wait_until


def windows_exe(relative, arch=None):
    """Path of a program of the Windows build under test. A missing program is a failure with a
    clear message, never a skip: a suite that quietly tests nothing must not pass."""
    arch = arch or host.choose_arch()
    path = arch.build_dir() / relative
    if not path.exists():
        raise RigError(f"{relative} is not built in {arch.build_dir()} ({arch.name} build missing or stale)")
    return path


def start_xvfb(log_path):
    """A private X server: (process, display number)."""
    read_fd, write_fd = os.pipe()
    with open(log_path, "wb") as log:
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{DESKTOP_SIZE}x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
            start_new_session=True)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 30
    with os.fdopen(read_fd, "rb", buffering=0) as pipe:
        sel = selectors.DefaultSelector()
        sel.register(pipe, selectors.EVENT_READ)
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not sel.select(left):
                end_process(xvfb)
                raise RigError("Xvfb gave no display number")
            chunk = pipe.read(16)
            if not chunk:
                raise RigError("Xvfb ended: " + Path(log_path).read_text(errors="replace").strip()[-300:])
            number += chunk
    return xvfb, int(number.strip())


class Rig:
    """Use as a context manager:

        with Rig("name") as rig:
            rig.map_com(3, rig.work / "com3")      # before start()
            rig.start()
            proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
            window = rig.wait_window(VANTREL_CAPTION)
    """

    def __init__(self, name, arch=None):
        self.name = name
        self.arch = arch or host.choose_arch()
        tests = host.work_root() / "tests"
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

    def start(self, probe=True):
        started_at = time.monotonic()
        template = host.ensure_template(self.arch)
        subprocess.run(["cp", "-a", str(template), str(self.prefix)], check=True)
        if self.com_ports:
            host.add_registry_values(self.prefix, r"Software\Wine\Ports", self.com_ports)
        self.xvfb, self.display = start_xvfb(self.work / "xvfb.log")
        self._reaper_watch(self.xvfb.pid)
        self.started = True
        if probe:
            self.probe = Probe(self._spawn([windows_exe("tests/win32/probe.exe", self.arch)], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE))
        self.startup_seconds = time.monotonic() - started_at
        return self

    def _start_reaper(self):
        self.reaper = subprocess.Popen(helper_command("reaper", os.getpid(), self.prefix, self.arch.bits),
                                       stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)

    def _reaper_watch(self, pid):
        if self.reaper and self.reaper.poll() is None:
            self.reaper.stdin.write(f"{pid}\n".encode())
            self.reaper.stdin.flush()

    def env(self):
        return host.wine_env(self.arch, self.prefix, self.display)

    def _spawn(self, args, **kw):
        kw.setdefault("stdin", subprocess.DEVNULL)
        kw.setdefault("stdout", self.wine_log)
        kw.setdefault("stderr", self.wine_log)
        return subprocess.Popen(host.wine(self.arch, *args), env=self.env(), cwd=self.run_dir,
                                start_new_session=True, **kw)

    def reg(self, *args):
        """Runs Wine's reg tool in this world (after start): reg("add", KEY, "/v", ...); its output."""
        return subprocess.run(host.wine(self.arch, "reg", *args), env=self.env(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60, check=True).stdout.decode("utf-8", "replace")

    def console(self, exe, *args):
        """Starts a line-command console program (see LineProgram); it is ended with the rig."""
        proc = self._spawn([exe, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.programs.append(proc)
        return LineProgram(proc)

    def launch(self, exe, *args, **kw):
        """Starts a Windows program with the run directory as its current directory."""
        proc = self._spawn([exe, *args], **kw)
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

    def popup(self, owner, what, timeout=30):
        """The dialog that `owner` (a Window) has opened: a file-open dialog, a message box."""
        hwnd = wait_until(lambda: int(self.probe.call("popup", handle(owner.hwnd)), 16), timeout, what)
        return Window(self.probe, hwnd, what)

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
            host.stop_wineserver(self.env(), self.wine_log)
        for proc in self.programs + ([self.probe.proc] if self.probe else []):
            end_process(proc)
        for sim in self.simulators:
            with contextlib.suppress(Exception):
                sim.close()
        for peer in self.peers:
            peer.close()
        if self.xvfb:
            end_process(self.xvfb)
        if self.reaper:
            end_process(self.reaper)
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


def end_process(proc, grace=5):
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


def reaper(parent, prefix, bits):
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
        host.stop_wineserver(host.wine_env(host.Arch(bits, "reaper"), prefix))
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
