"""The real Win32 serial driver under Wine, on COM3 mapped to a pseudo-terminal whose far end this
test plays. Catches what the native fake cannot: the Win32 calls themselves, the line settings the
port really gets, the bytes on the real line and the 5 s close of a stalled write."""

import fcntl
import struct
import termios
import time
import unittest

import krtrig
from krtrig import Rig, wait_until, windows_exe

PROBE = bytes.fromhex("10 01 10 1F 1D 10 02 09 30 09 30 30 33 0C 10 03 C5 15")


def pattern(n):
    return bytes(i % 251 for i in range(n))


class Driver:
    """comdriver_wine_test.exe, one driver command per call."""

    def __init__(self, program):
        self.p = program

    def ints(self, *words, **kw):
        return [int(v) for v in self.p.call(*words, **kw).split()]

    def version(self):
        result, text = self.p.call("version").split()
        return int(result), bytes.fromhex(text).decode("ascii")

    def read(self):
        """COM_READ on an open port: the bytes, which the driver must follow with a 0."""
        answer = self.p.call("read").split()
        if answer[1] != "1":
            raise AssertionError(f"COM_READ of {answer[0]} bytes left no 0 behind them")
        return bytes.fromhex(answer[2]) if len(answer) > 2 else b""


def unread_by_peer(peer):
    """Bytes the program wrote that the peer has not read."""
    return struct.unpack("i", fcntl.ioctl(peer.master, termios.FIONREAD, b"\0\0\0\0"))[0]


def parity_checked(peer):
    """Whether the program asked for a parity bit. A pty forces 8 data bits without parity in its
    control flags, so the input parity check that Wine sets with the parity is what shows."""
    return bool(termios.tcgetattr(peer.slave)[0] & termios.INPCK)


class ComDriverUnderWine(unittest.TestCase):
    def start(self, rig):
        link = rig.work / "com3"
        rig.map_com(3, link)
        peer = rig.pty_peer(link)
        rig.start()
        driver = Driver(rig.console(windows_exe("tests/win32/comdriver_wine_test.exe")))
        return peer, driver

    def test_configurator_driver_opens_writes_reads_and_closes(self):
        with Rig("comdriver-configurator") as rig:
            peer, drv = self.start(rig)

            # Nothing open yet: the version text is still given; the rest reports no port.
            self.assertEqual(drv.version(), (0, " COM-driver Version 2.00"))
            self.assertEqual(drv.ints("write", "00"), [1])
            self.assertEqual(drv.ints("read")[0], 0)
            self.assertEqual(drv.ints("close")[0], 1)
            self.assertEqual(drv.ints("open", 0, 9600, 0), [0], "port 0 while closed")
            self.assertEqual(drv.ints("write", "00"), [1], "port 0 opens nothing")

            self.assertEqual(drv.ints("open", 9, 9600, 0), [3], "COM9 does not exist")
            self.assertEqual(drv.ints("open", 3, 9600, 0), [0])
            wait_until(lambda: peer.speed() == 9600, 5, "the line at 9600")
            self.assertFalse(parity_checked(peer))
            # Open again: same port answers 0 and keeps its speed; another port is refused.
            self.assertEqual(drv.ints("open", 3, 1200, 1), [0])
            self.assertEqual(drv.ints("open", 4, 1200, 0), [1])
            time.sleep(0.2)  # give a wrong reconfiguration the time to show
            self.assertEqual((peer.speed(), parity_checked(peer)), (9600, False))

            # Writes arrive whole, through the worker, and COM_BUSY falls back to 0.
            self.assertEqual(drv.ints("write", PROBE.hex()), [0])
            self.assertEqual(peer.read_exactly(len(PROBE), 10), PROBE)
            self.assertEqual(drv.ints("idle", 5000)[0], 0)
            self.assertEqual(drv.ints("fill", 5000), [0])
            self.assertEqual(peer.read_exactly(5000, 20), pattern(5000))
            self.assertEqual(drv.ints("idle", 5000)[0], 0)
            self.assertEqual(drv.ints("write", ""), [0], "a write of length 0")
            self.assertEqual(drv.ints("idle", 5000)[0], 0)
            self.assertEqual(peer.read_exactly(1, 0.3), b"")

            # Reads return at once with what came; at most 6144 bytes each, the rest next time.
            self.assertEqual(drv.read(), b"")
            peer.write(b"\x10\x01hello\x03")
            got = wait_until(drv.read, 10, "the peer's bytes")
            self.assertEqual(got, b"\x10\x01hello\x03")
            # A pty hands over at most 4095 bytes a read, so the 6144 limit itself cannot show here;
            # what can: no read is longer, and nothing is lost or reordered across reads.
            burst = pattern(7000)
            peer.write(burst)
            taken = bytearray()

            def take():
                chunk = drv.read()
                self.assertLessEqual(len(chunk), 6144)
                taken.extend(chunk)
                return len(taken) >= len(burst)

            wait_until(take, 20, "the burst", interval=0.02)
            self.assertEqual(bytes(taken), burst)
            self.assertEqual(drv.read(), b"")

            self.assertEqual(drv.ints("setlines", 3), [0])
            self.assertEqual(drv.ints("setlines", 4), [0])
            self.assertEqual((peer.speed(), parity_checked(peer)), (9600, False), "setlines keeps the line")
            self.assertEqual(drv.ints("call", 3), [1, 77], "unassigned code leaves the result")
            self.assertEqual(drv.ints("call", 4), [1, 77])
            self.assertEqual(drv.version(), (0, " COM-driver Version 2.00"))

            self.assertEqual(drv.ints("close")[0], 0)
            self.assertEqual(drv.ints("close")[0], 1)
            self.assertEqual(drv.ints("read")[0], 0)
            # 8E1 for any other format selector, and a closed port reopens.
            self.assertEqual(drv.ints("open", 3, 1200, 1), [0])
            wait_until(lambda: peer.speed() == 1200, 5, "the line at 1200")
            self.assertTrue(parity_checked(peer))
            self.assertEqual(drv.ints("close")[0], 0)

    def test_loader_driver_formats_keying_and_version(self):
        with Rig("comdriver-loader") as rig:
            peer, drv = self.start(rig)
            drv.p.call("variant", "loader")
            self.assertEqual(drv.version(), (0, " COM-driver Version 4.00"))

            self.assertEqual(drv.ints("open", 3, 4800, 8, 1), [0])
            wait_until(lambda: peer.speed() == 4800, 5, "the line at 4800")
            self.assertFalse(parity_checked(peer))
            # A pty has no modem lines: the line functions fail inside, the results stay 0, and a
            # keyed write still goes out whole.
            self.assertEqual(drv.ints("setlines", 3), [0])
            self.assertEqual(drv.ints("fill", 3000), [0])
            self.assertEqual(peer.read_exactly(3000, 20), pattern(3000))
            self.assertEqual(drv.ints("idle", 5000)[0], 0)
            self.assertEqual(drv.ints("close")[0], 0)

            self.assertEqual(drv.ints("open", 3, 115200, 0, 0), [0])
            wait_until(lambda: peer.speed() == 115200, 5, "the line at 115200")
            self.assertTrue(parity_checked(peer), "7E1 for any format but 8")
            self.assertEqual(drv.ints("close")[0], 0)

    def test_close_during_a_stalled_write_returns_after_the_wait(self):
        with Rig("comdriver-stall") as rig:
            peer, drv = self.start(rig)
            self.assertEqual(drv.ints("open", 3, 9600, 0), [0])
            # The peer reads nothing: a pty takes about 22 kB, so the worker stays in WriteFile.
            self.assertEqual(drv.ints("fill", 60000), [0])
            wait_until(lambda: unread_by_peer(peer) >= 4000, 10, "the line to fill up")
            time.sleep(0.5)
            self.assertEqual(drv.ints("busy"), [1])
            result, elapsed = drv.ints("close", timeout=60)
            self.assertEqual(result, 0)
            self.assertGreaterEqual(elapsed, 4900)
            self.assertLess(elapsed, 9000)
            # The program goes on: the port is closed and can be opened again.
            self.assertEqual(drv.ints("busy"), [0])
            self.assertEqual(drv.version(), (0, " COM-driver Version 2.00"))
            taken = len(peer.read_available())
            self.assertLess(taken, 60000, "the terminated write was not completed")
            self.assertEqual(drv.ints("open", 3, 9600, 0), [0])
            self.assertEqual(drv.ints("write", PROBE.hex()), [0])
            self.assertEqual(peer.read_exactly(len(PROBE), 10), PROBE)
            self.assertEqual(drv.ints("close")[0], 0)

    def test_unplugged_line_reads_nothing_and_a_write_gives_up(self):
        with Rig("comdriver-unplug") as rig:
            peer, drv = self.start(rig)
            self.assertEqual(drv.ints("open", 3, 9600, 0), [0])
            self.assertEqual(drv.ints("write", PROBE.hex()), [0])
            self.assertEqual(peer.read_exactly(len(PROBE), 10), PROBE)
            self.assertEqual(drv.ints("idle", 5000)[0], 0)
            peer.unplug()
            self.assertEqual(drv.ints("read")[0], 0)
            # Every WriteFile fails now: the worker must stop trying instead of spinning for ever.
            self.assertEqual(drv.ints("write", PROBE.hex()), [0])
            busy, _ = drv.ints("idle", 20000, timeout=60)
            self.assertEqual(busy, 0, "the write worker never gave up on a dead port")
            result, elapsed = drv.ints("close")
            self.assertEqual(result, 0)
            self.assertLess(elapsed, 2000)
            self.assertEqual(drv.version(), (0, " COM-driver Version 2.00"))


if __name__ == "__main__":
    krtrig.main()
