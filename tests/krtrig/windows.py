"""The probe (a small Win32 program in the same Wine world) and the windows it sees and drives."""

import contextlib
import selectors
import time

from .host import RigError

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


def handle(hwnd):
    """A window handle as the probe takes it."""
    return format(hwnd, "x")


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
        return handle(self.hwnd)

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

    def set_text(self, control, text):
        self.probe.call("settext", self._h(), control, text.encode("cp1251").hex())

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
