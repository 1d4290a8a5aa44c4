"""krt42 where things go wrong: a line that dies, an adapter that restarts, files and values that
cannot go out, closed and full outputs, signals. Each case ends with its own exit code and one
reason, and nothing but protocol bytes reaches the line."""

import json
import signal
import subprocess
import time
import unittest

from krt42case import KRT42, Krt42Case, wait_until


def program(size):
    return bytes(0x30 + (i * 7) % 64 for i in range(size))


class Failures(Krt42Case):
    def loader(self, *args, name="com"):
        capture = self.work / f"{name}.bin"
        sim, port = self.sim("--mode", "loader", "--capture", capture, *args, name=name)
        return sim, port, capture

    def krt42(self, *args, timeout=60, shell_tail=""):
        """krt42 with bytes for output; `shell_tail` redirects its descriptors through the shell."""
        if not shell_tail:
            return self.run_krt42(*args, timeout=timeout, text=False)
        line = " ".join(f"'{w}'" for w in [KRT42, *map(str, args)]) + " " + shell_tail
        return subprocess.run(["bash", "-c", line], capture_output=True, timeout=timeout)

    def hex_file(self, size, name="P.HEX"):
        path = self.work / name
        path.write_bytes(program(size))
        return path

    def test_a_line_that_dies_during_a_load_fails_within_a_second_or_two(self):
        _, port, capture = self.loader("--unplug-after", 400)
        started = time.monotonic()
        done = self.krt42("load", "--port", port, "--speed", 9600, self.hex_file(4000))
        stderr = done.stderr.decode()
        self.assertEqual(done.returncode, 1, stderr)
        self.assertRegex(stderr.splitlines()[-1], r"^krt42: the line failed after \d+ of 4000 bytes$")
        # 400 bytes take one second at a block a tick; the failure is seen within two more.
        self.assertLess(time.monotonic() - started, 4)
        self.assertLess(capture.stat().st_size, 600)

    def test_every_R_restarts_the_load_and_endless_restarts_are_bounded(self):
        # 'R' alone, on a line that takes each write at once: seen before the next block goes out.
        image = program(300)
        (self.work / "P.HEX").write_bytes(image)
        _, port, capture = self.loader("--r-after", "100,250")
        done = self.krt42("load", "--port", port, "--speed", 9600, self.work / "P.HEX")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("restarts 2", done.stderr.decode().splitlines()[-1])
        data = capture.read_bytes()
        self.assertTrue(data.startswith(b"++") and data.endswith(b"+" * 8 + image), data[:40])
        # Each restart sequence comes within a block of the 'R': at most 8 bytes sent after it.
        first = data.index(b"+" * 8)
        self.assertLessEqual(first, 2 + 100 + 8 + 8)

        _, port, _ = self.loader("--r-every", 40, name="endless")
        done = self.krt42("load", "--port", port, "--speed", 9600, "--max-restarts", 3, self.work / "P.HEX")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr.decode().splitlines()[-1],
                         "krt42: the adapter asked for more than 3 restarts; load stopped")

    def test_files_the_adapter_cannot_take_whole_are_refused_before_anything_is_sent(self):
        _, port, capture = self.loader()
        (self.work / "EMPTY.HEX").write_bytes(b"")
        (self.work / "DIR.HEX").mkdir()
        for path, text in ((self.hex_file(40000, "BIG.HEX"), "has 40000 bytes; the adapter takes at most 32768"),
                           (self.work / "EMPTY.HEX", "is empty"),
                           (self.work / "DIR.HEX", "is a folder, not a file"),
                           (self.work / "NONE.HEX", "no such file")):
            done = self.krt42("load", "--port", port, path)
            self.assertEqual((done.returncode, len(done.stderr.splitlines())), (2, 1), done.stderr)
            self.assertIn(text, done.stderr.decode())
        self.assertFalse(capture.exists() and capture.stat().st_size)

    def test_closed_standard_descriptors_never_become_the_port(self):
        sim, port = self.sim()
        done = self.krt42("read", "--port", port, "--speed", 9600, shell_tail=">&-")
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertEqual(done.stderr.decode(), "krt42: cannot write standard output: standard output is closed\n")
        self.assertEqual(sim.stats()["rx_bytes"], 0)
        # A command with no data to give does not need standard output.
        self.assertEqual(self.krt42("write", "--port", port, "--speed", 9600, "1", "5", shell_tail=">&-").returncode, 0)
        # With stderr closed the progress goes nowhere, and the adapter gets the program alone.
        _, port, capture = self.loader(name="loader")
        done = self.krt42("load", "--port", port, "--speed", 9600, self.hex_file(200), shell_tail="2>&- </dev/null")
        self.assertEqual(done.returncode, 0)
        self.assertEqual(capture.read_bytes(), b"++" + program(200))
        done = self.krt42("find", "--port", port, shell_tail="<&-")
        self.assertEqual(done.returncode, 3)

    def test_output_that_cannot_be_written_fails_and_never_leaves_half_a_file(self):
        sim, port = self.sim()
        for args in (["find", "--port", port], ["read", "--port", port, "--speed", 9600]):
            done = self.krt42(*args, shell_tail="> /dev/full")
            self.assertEqual(done.returncode, 1, args)
            self.assertIn("cannot write standard output", done.stderr.decode())
        before = sim.stats()["rx_bytes"]
        done = self.krt42("read", "--port", port, "--speed", 9600, "-o", self.work / "no" / "such" / "c.json")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(sim.stats()["rx_bytes"], before)  # refused before the line was touched
        out = self.work / "c.json"
        out.write_text("old")
        done = self.krt42("read", "--port", port, "--speed", 9600, "-o", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(len(json.loads(out.read_text())["rows"]), 104)
        self.assertEqual(sorted(p.name for p in self.work.iterdir() if p.name.startswith("c.json")), ["c.json"])

    def test_progress_that_goes_nowhere_never_stops_a_load_and_signals_end_it_cleanly(self):
        _, port, capture = self.loader()
        proc = subprocess.Popen([KRT42, "load", "--port", port, "--speed", "9600", self.hex_file(1200)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        proc.stderr.readline()
        proc.stderr.close()  # the reader of the progress goes away
        self.assertEqual(proc.wait(timeout=30), 0)
        self.assertEqual(capture.read_bytes(), b"++" + program(1200))

        for number, code in ((signal.SIGHUP, 129), (signal.SIGTERM, 143), (signal.SIGINT, 130)):
            sim, port, capture = self.loader(name=f"sig{number}")
            proc = subprocess.Popen([KRT42, "load", "--port", port, self.hex_file(8000)],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            wait_until(lambda: capture.exists() and capture.stat().st_size > 100, 20, "the load to run")
            proc.send_signal(number)
            _, err = proc.communicate(timeout=20)
            self.assertEqual(proc.returncode, code, err)
            self.assertLess(capture.stat().st_size, 8002)
            # The port was given back: the next run can open it at once.
            done = self.krt42("load", "--port", port, self.hex_file(8, "S.HEX"))
            self.assertEqual(done.returncode, 0, done.stderr)

    def test_values_that_would_break_the_frame_are_refused_before_anything_is_sent(self):
        sim, port = self.sim()
        for value, text in ((b"1\t99", "character 2"), (b"1\n", "character 2"), (b"a\x10b", "character 2"),
                            (b"\xc0\x80", "UTF-8"), (b"\xff", "UTF-8"), ("✓".encode(), "character 1")):
            done = self.krt42("write", "--port", port, "--speed", 9600, "052:07", value)
            self.assertEqual((done.returncode, len(done.stderr.splitlines())), (2, 1), (value, done.stderr))
            self.assertIn(text, done.stderr.decode(errors="replace"), value)
        self.assertEqual(sim.stats()["rx_bytes"], 0)

    def test_rows_100_to_103_by_number_and_values_after_the_end_of_options(self):
        _, port = self.sim()
        self.assertEqual(self.krt42("write", "--port", port, "--speed", 9600, "103", "7").returncode, 0)
        done = self.krt42("write", "--port", port, "--speed", 9600, "--", "100", "-5")
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = json.loads(self.krt42("read", "--port", port, "--speed", 9600, "--format", "json").stdout)["rows"]
        self.assertEqual((rows[100]["value"], rows[103]["value"]), ("-5", "7"))
        self.assertEqual(self.krt42("write", "--port", port, "104", "1").returncode, 2)

    def test_a_port_that_goes_away_during_the_search_is_a_port_failure(self):
        sim, port = self.sim("--silent")
        proc = subprocess.Popen([KRT42, "find", "--port", port], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        wait_until(lambda: sim.stats()["rx_bytes"] > 0, 20, "the first probe")
        sim.command("unplug")
        out, err = proc.communicate(timeout=30)
        self.assertEqual(proc.returncode, 6, (out, err))
        self.assertIn(f"cannot open {port}", err.decode())


if __name__ == "__main__":
    unittest.main(verbosity=2)
