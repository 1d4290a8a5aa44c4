"""krt42 against the simulated adapter on pseudo-terminals: what a script sees of each command,
its output and its exit code."""

import json
import signal
import subprocess
import time
import unittest

from krt42case import KRT42, TESTS, Krt42Case, wait_until

VERSION = (TESTS.parent / "VERSION").read_text().strip()


class Krt42(Krt42Case):
    def test_find_answers_at_its_speed_and_a_silent_line_gives_no_adapter(self):
        _, port = self.sim(speed=38400)
        done = self.run_krt42("find", "--port", port)
        self.assertEqual((done.returncode, done.stdout), (0, f"{port}: KRT42 at 38400 bit/s\n"), done.stderr)

        _, silent = self.sim("--silent", name="silent")
        done = self.run_krt42("find", "--port", silent)
        self.assertEqual((done.returncode, done.stdout), (3, f"no adapter on {silent}\n"))
        # A read without answers keeps the initial texts and says so.
        done = self.run_krt42("read", "--port", silent, "--speed", "9600", "--format", "json")
        self.assertEqual(done.returncode, 5)
        rows = json.loads(done.stdout)["rows"]
        self.assertEqual(len(rows), 104)
        self.assertFalse(any(row["answered"] for row in rows))
        self.assertEqual(rows[7]["value"], "0000000000")

    def test_read_gives_the_adapters_table_in_three_formats(self):
        _, port = self.sim()
        table = self.run_krt42("read", "--port", port)
        self.assertEqual(table.returncode, 0, table.stderr)
        lines = table.stdout.splitlines()
        self.assertEqual(len(lines), 105)
        self.assertEqual(lines[0].split(), ["row", "param", "index", "value", "unit", "name", "answered"])
        self.assertEqual(lines[6].split(), ["5", "052", "00", "500", "мс", "Периодичность", "опроса", "yes"])

        out = self.work / "table.csv"
        csv = self.run_krt42("read", "--port", port, "--speed", "9600", "--format", "csv", "-o", out)
        self.assertEqual((csv.returncode, csv.stdout), (0, ""))
        csv_lines = out.read_text(encoding="utf-8").splitlines()
        self.assertEqual(csv_lines[0], "row,param,index,value,unit,name,answered,bytes")
        self.assertEqual(len(csv_lines), 105)
        self.assertEqual(csv_lines[3], "2,099,00,3.05,,Версия адаптера,yes,33 2E 30 35")
        self.assertEqual(csv_lines[104], "103,052,98,0,шт,Задание на запись параметра,yes,30")

        config = json.loads(self.run_krt42("read", "--port", port, "--speed", "9600", "--format", "json").stdout)
        self.assertEqual((config["format"], config["tool"], config["port"], config["speed"]),
                         (2, f"krt42 {VERSION}", port, 9600))
        rows = config["rows"]
        self.assertEqual([row["row"] for row in rows], list(range(104)))
        self.assertEqual(rows[1], {"row": 1, "param": "006", "index": "00", "value": "17", "bytes": "31 37",
                                   "unit": "", "name": "Идентификатор для радиообмена", "answered": True})
        self.assertEqual({rows[r]["unit"] for r in range(6, 104, 2)}, {"сек"})

    def test_write_is_accepted_refused_with_the_adapters_text_or_unanswered(self):
        sim, port = self.sim()
        done = self.run_krt42("write", "--port", port, "--speed", "9600", "052:07", "15")
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = json.loads(self.run_krt42("read", "--port", port, "--speed", "9600", "--format", "json").stdout)["rows"]
        self.assertEqual(rows[12]["value"], "15")
        # The request is the configurator's own for that row.
        self.assertIn("14 10 02 09 30 09 30 35 32 09 30 37 09 31 0C 09 31 35 0C 10 03",
                      "\n".join(sim.log_lines()).upper())

        sim.command("refuse Запись запрещена")
        done = self.run_krt42("write", "--port", port, "--speed", "9600", "3", "7")
        self.assertEqual((done.returncode, done.stderr), (4, "krt42: refused: Запись запрещена\n"))

        sim.command("silent on")
        started = time.monotonic()
        done = self.run_krt42("write", "--port", port, "--speed", "9600", "006", "7")
        self.assertEqual(done.returncode, 5)
        self.assertLess(time.monotonic() - started, 10)

    def test_load_sends_the_file_again_after_each_R(self):
        capture = self.work / "capture.bin"
        _, port = self.sim("--mode", "loader", "--capture", capture, "--r-after", "100", "--ixon")
        program = bytes(0x30 + (i * 7) % 64 for i in range(300))
        (self.work / "P.HEX").write_bytes(program)
        done = self.run_krt42("load", "--port", port, "--speed", "9600", self.work / "P.HEX")
        self.assertEqual(done.returncode, 0, done.stderr)
        data = capture.read_bytes()
        self.assertTrue(data.startswith(b"++") and data.endswith(b"+" * 8 + program), data[:40])
        self.assertIn("restarts 1", done.stderr.splitlines()[-1])

    def test_ctrl_c_ends_a_load_cleanly(self):
        capture = self.work / "capture.bin"
        _, port = self.sim("--mode", "loader", "--capture", capture)
        (self.work / "LONG.HEX").write_bytes(b"0" * 8000)
        proc = subprocess.Popen([KRT42, "load", "--port", port, self.work / "LONG.HEX"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        wait_until(lambda: capture.exists() and capture.stat().st_size > 200, 20, "the load to run")
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=20)
        self.assertEqual(proc.returncode, 130, err)
        self.assertLess(capture.stat().st_size, 8002)

    def test_usage_errors_and_ports_that_cannot_be_opened(self):
        _, port = self.sim()
        for args, code, text in (
                (["write", "--port", port, "007", "1"], 2, "unknown row 007"),
                (["write", "--port", port, "099:03", "1"], 2, "unknown row 099:03"),
                (["read", "--port", port, "--speed", "1234"], 2, "bad speed 1234"),
                (["fetch", "--port", port], 2, "unknown command fetch"),
                (["load", "--port", port, self.work / "none.hex"], 2, "none.hex"),
                (["find", "--port", self.work / "missing"], 6, "cannot open"),
        ):
            done = self.run_krt42(*args)
            self.assertEqual(done.returncode, code, args)
            self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
            self.assertIn(text, done.stderr)
        self.assertEqual(self.run_krt42("--version").stdout, f"krt42 {VERSION}\n")
        self.assertIn("find  --port P", self.run_krt42("--help").stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
