"""krt42 over several simulated adapters at once, and configurations as files: a read to files, a
diff, an apply with its plan and its write frames, a clone, a load to four ports."""

import json
import unittest

from krt42case import Krt42Case


def program(size):
    return bytes(0x30 + (i * 5) % 64 for i in range(size))


def writes(sim):
    """The write requests the simulator received, as the text after their hex (param, element)."""
    return [line.split("| ", 1)[1] for line in sim.log_lines() if line.startswith("RX") and "| write" in line]


class Many(Krt42Case):
    def krt42(self, *args, timeout=120):
        return self.run_krt42(*args, timeout=timeout)

    def rows(self, port):
        done = self.krt42("read", "--port", port, "--speed", 9600, "--format", "json")
        self.assertEqual(done.returncode, 0, done.stderr)
        return [(r["row"], r["value"]) for r in json.loads(done.stdout)["rows"]]

    def test_read_to_files_then_diff_names_the_one_changed_value(self):
        _, a = self.sim(name="a")
        _, b = self.sim(name="b", speed=19200)
        out = self.work / "out"
        out.mkdir()
        done = self.krt42("read", "--port", a, "--port", b, "-o", out / "{port}.json")
        self.assertEqual((done.returncode, done.stdout), (0, ""), done.stderr)
        files = {p.name: json.loads(p.read_text()) for p in out.iterdir()}
        self.assertEqual(sorted(files), ["a.json", "b.json"])
        self.assertEqual((files["a.json"]["speed"], files["b.json"]["speed"]), (9600, 19200))
        self.assertEqual(files["b.json"]["port"], b)

        self.assertEqual(self.krt42("write", "--port", b, "--speed", 19200, "052:07", "15").returncode, 0)
        done = self.krt42("diff", "--port", a, "--port", b, out / "a.json")
        # a agrees (0), b differs (1): the worst of them.
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertEqual(done.stdout, f'{b}: row 12  052:07  file "0"  adapter "15"\n')
        self.assertEqual(self.krt42("diff", "--port", a, out / "a.json").returncode, 0)

    def test_apply_writes_exactly_the_rows_that_differ_in_row_order(self):
        sim, port = self.sim("--ignore-write", "052:20", name="a")
        config = json.loads(self.krt42("read", "--port", port, "--speed", 9600, "--format", "json").stdout)
        rows = config["rows"]
        rows[25]["value"] = "9"                  # 052:20: the adapter never answers its write
        rows[12]["value"] = "15"                 # 052:07: accepted
        rows[7]["value"] = "x" * 50              # 052:02: longer than the adapter takes, refused
        rows[30]["value"] = "7"
        rows[30]["answered"] = False             # never written: the file does not know it
        path = self.work / "target.json"
        path.write_text(json.dumps(config, ensure_ascii=False))

        done = self.krt42("apply", "--port", port, "--speed", 9600, "--dry-run", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual([line.split("  ")[1] for line in done.stdout.splitlines()[:-1]],
                         ["052:02", "052:07", "052:20"])
        self.assertTrue(done.stdout.endswith("apply: 3 rows differ; dry run, nothing written\n"))
        self.assertEqual(writes(sim), [])

        done = self.krt42("apply", "--port", port, "--speed", 9600, path)
        self.assertEqual(done.returncode, 5, done.stdout + done.stderr)  # refused (4) and unanswered (5)
        lines = done.stdout.splitlines()
        self.assertEqual(lines[0], 'row 7  052:02  "2" -> "' + "x" * 50 + '"  refused: Недопустимое значение')
        self.assertEqual(lines[1], 'row 12  052:07  "0" -> "15"  written')
        self.assertEqual(lines[2], 'row 25  052:20  "0" -> "9"  unanswered')
        self.assertEqual(lines[3], "apply: 3 rows differ; 1 written, 1 refused, 1 unanswered; read-back agrees")
        self.assertEqual(writes(sim), ["write 052[02+1]", "write 052[07+1]", "write 052[20+1]"])
        # The request is the configurator's own for that row.
        self.assertIn("10 02 09 30 09 30 35 32 09 30 37 09 31 0C 09 31 35 0C 10 03", "\n".join(sim.log_lines()).upper())

        # The adapter's answer shows a Cyrillic value written in Windows-1251 as other letters
        # ("?хёЄ"), but its bytes are the ones written: the read-back compares bytes.
        rows[12]["value"], rows[7]["value"] = "Тест", "2"
        path.write_text(json.dumps(config, ensure_ascii=False))
        done = self.krt42("apply", "--port", port, "--speed", 9600, "--rows", "052:07", path)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertTrue(done.stdout.endswith("; read-back agrees\n"), done.stdout)
        self.assertEqual(self.krt42("diff", "--port", port, "--speed", 9600, "--rows", "052:07", path).returncode, 0)

        # A file that cannot be used sends nothing.
        rows[12]["value"] = "1\t2"
        path.write_text(json.dumps(config, ensure_ascii=False))
        before = sim.stats()["rx_bytes"]
        done = self.krt42("apply", "--port", port, "--speed", 9600, path)
        self.assertEqual(done.returncode, 2)
        self.assertIn("row 12", done.stderr)
        self.assertEqual(sim.stats()["rx_bytes"], before)

    def test_a_clone_leaves_two_adapters_reading_the_same(self):
        _, a = self.sim(name="a")
        _, b = self.sim(name="b")
        for row, value in (("052:07", "15"), ("006", "42"), ("103", "3")):
            self.assertEqual(self.krt42("write", "--port", a, "--speed", 9600, row, value).returncode, 0)
        self.assertNotEqual(self.rows(a), self.rows(b))
        self.assertEqual(self.krt42("read", "--port", a, "--speed", 9600, "-o", self.work / "a.json").returncode, 0)
        done = self.krt42("apply", "--port", b, self.work / "a.json")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("3 written", done.stdout)
        self.assertEqual(self.rows(a), self.rows(b))

    def test_a_load_to_four_ports_where_one_hangs_up_and_one_restarts(self):
        image = program(400)
        (self.work / "P.HEX").write_bytes(image)
        ports, captures = [], []
        for name, extra in (("ok1", []), ("dies", ["--unplug-after", 120]), ("again", ["--r-after", 200]),
                            ("ok2", [])):
            capture = self.work / f"{name}.bin"
            captures.append(capture)
            ports.append(self.sim("--mode", "loader", "--capture", capture, *extra, name=name)[1])
        missing = str(self.work / "missing")
        list_file = self.work / "ports.txt"
        list_file.write_text("# the tray\n" + "\n".join(ports[2:]) + "\n" + missing + "\n")
        done = self.krt42("load", "--speed", 9600, "--port", ports[0], "--port", ports[1], "--ports-from", list_file,
                          self.work / "P.HEX")
        self.assertEqual(done.returncode, 6, done.stderr)  # the worst: a port that does not open
        summary = dict(line[len("krt42: "):].split(": ", 1) for line in done.stderr.splitlines()
                       if ": done," in line or ": failed," in line)
        self.assertRegex(summary[ports[0]], r"^done, 400/400 bytes, 0 restarts, \d+\.\d s$")
        self.assertRegex(summary[ports[1]], r"^failed, \d+/400 bytes, 0 restarts")
        self.assertRegex(summary[ports[2]], r"^done, 400/400 bytes, 1 restarts")
        self.assertIn(f"{ports[1]}: the line failed after", done.stderr)
        self.assertIn(f"{missing}: cannot open {missing}", done.stderr)
        for capture in (captures[0], captures[3]):
            self.assertEqual(capture.read_bytes(), b"++" + image)
        self.assertTrue(captures[2].read_bytes().endswith(b"+" * 8 + image))


if __name__ == "__main__":
    unittest.main(verbosity=2)
