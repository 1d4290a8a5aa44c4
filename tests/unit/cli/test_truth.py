"""krt42 where a failure could pass for a success: reads that came back in part, clones that must keep
the adapter's own bytes, outputs and traces that must never reach a device, options that would widen
a write, a trace reader that pauses, a line that holds the writes, and stops. Crafted adapters are
the simulator's fault switches."""

import fcntl
import json
import os
import signal
import stat
import subprocess
import threading
import time
import unittest
from pathlib import Path

from krt42case import KRT42, Krt42Case, wait_until


def program(size):
    return bytes(0x30 + (i * 3) % 64 for i in range(size))


def written_frames(sim):
    """The hex of every write request the simulator received."""
    return [line.split("hex=", 1)[1].split(" |", 1)[0].upper() for line in sim.log_lines()
            if line.startswith("RX") and "| write" in line]


class Truth(Krt42Case):
    def krt42(self, *args, timeout=120):
        return self.run_krt42(*args, timeout=timeout)

    def config(self, port):
        done = self.krt42("read", "--port", port, "--speed", 9600, "--format", "json")
        self.assertEqual(done.returncode, 0, done.stderr)
        return json.loads(done.stdout)

    def save(self, config, name="target.json"):
        path = self.work / name
        path.write_text(json.dumps(config, ensure_ascii=False), encoding="utf-8")
        return path

    def test_a_read_succeeds_only_when_the_adapter_answered_every_row(self):
        # 50 of the 99 elements of 052: no request timed out, yet 49 rows are placeholders.
        short, port = self.sim("--short-array", 50, name="short")
        done = self.krt42("read", "--port", port, "--speed", 9600, "-o", self.work / "short.json")
        self.assertEqual(done.returncode, 5, done.stderr)
        self.assertIn("49 of 104 rows got no answer", done.stderr)
        rows = json.loads((self.work / "short.json").read_text())["rows"]
        self.assertEqual([r["row"] for r in rows if not r["answered"]], list(range(55, 104)))
        self.assertNotIn("bytes", rows[60])
        # diff and apply on such a read write nothing, even for rows the read did get.
        good, other = self.sim(name="good")
        target = self.config(other)
        target["rows"][12]["value"] = "15"
        path = self.save(target)
        for command in ("diff", "apply"):
            done = self.krt42(command, "--port", port, "--speed", 9600, path)
            self.assertEqual(done.returncode, 5, (command, done.stdout, done.stderr))
        self.assertEqual(written_frames(short), [])

        # Every answer behind a copy of the one before: the read moves on without a time-out.
        _, port = self.sim("--repeat-previous", name="repeat")
        done = self.krt42("read", "--port", port, "--speed", 9600)
        self.assertEqual(done.returncode, 5, done.stderr)
        self.assertRegex(done.stderr, r"\d+ of 104 rows got no answer")

        # A reply that came after the last run gave up is thrown away when the port opens.
        late, port = self.sim("--late-write-reply", 2500, name="late")
        done = self.krt42("write", "--port", port, "--speed", 9600, "052:07", "15")
        self.assertEqual(done.returncode, 5, done.stderr)
        wait_until(lambda: any(line.startswith("LATE sent") for line in late.log_lines()), 10, "the late reply")
        done = self.krt42("read", "--port", port, "--speed", 9600, "--format", "json")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(all(r["answered"] for r in json.loads(done.stdout)["rows"]))

    def test_the_read_back_takes_only_what_the_adapter_answers_after_the_writes(self):
        # The adapter acknowledges the write and keeps its old value.
        sim, port = self.sim("--forget-writes", "--delay", 200)
        target = self.config(port)
        target["rows"][12]["value"] = "15"
        path = self.save(target)
        done = self.krt42("apply", "--port", port, "--speed", 9600, path)
        self.assertEqual(done.returncode, 7, done.stdout + done.stderr)
        self.assertIn('row 12  052:07  read back "0", written "15"', done.stdout)
        self.assertTrue(done.stdout.endswith("1 written, 0 refused, 0 unanswered; read-back differs in 1 rows\n"))

        # When the read-back gets no answer for the row, the table still holds what the write put
        # there: that must not pass for the adapter's value.
        proc = subprocess.Popen([KRT42, "apply", "--port", port, "--speed", "9600", str(path)],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        wait_until(lambda: len(written_frames(sim)) == 2, 20, "the write")
        sim.command("short-array 1")  # the read-back's 052 answer stops before row 12
        out, err = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 5, out + err)
        self.assertIn("row 12  052:07  read back: no answer", out)
        self.assertTrue(out.endswith("; read-back got no answer for 1 rows\n"), out)

    def test_a_clone_writes_the_adapters_own_bytes_and_comparisons_compare_bytes(self):
        a_sim, a = self.sim(name="a")
        b_sim, b = self.sim(name="b")
        # "Код А" goes out in Windows-1251 and comes back read as the adapter's OEM text.
        self.assertEqual(self.krt42("write", "--port", a, "--speed", 9600, "006", "Код А").returncode, 0)
        done = self.krt42("read", "--port", a, "--speed", 9600, "-o", self.work / "a.json")
        self.assertEqual(done.returncode, 0, done.stderr)
        row = json.loads((self.work / "a.json").read_text())["rows"][1]
        self.assertEqual((row["value"], row["bytes"]), ("?юф +", "CA EE E4 20 C0"))
        done = self.krt42("apply", "--port", b, "--speed", 9600, "--rows", "006", self.work / "a.json")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertTrue(done.stdout.endswith("1 written, 0 refused, 0 unanswered; read-back agrees\n"), done.stdout)
        self.assertIn("09 30 30 36 0C 09 CA EE E4 20 C0 0C", written_frames(b_sim)[-1])
        for port in (a, b):
            self.assertEqual(self.krt42("diff", "--port", port, "--speed", 9600, self.work / "a.json").returncode, 0)

        # B0 and B1 both show as "?": only their bytes tell them apart.
        self.assertEqual(self.krt42("write", "--port", a, "--speed", 9600, "052:07", "°").returncode, 0)
        self.assertEqual(self.krt42("write", "--port", b, "--speed", 9600, "052:07", "±").returncode, 0)
        self.assertEqual(self.krt42("read", "--port", a, "--speed", 9600, "-o", self.work / "a.json").returncode, 0)
        done = self.krt42("diff", "--port", b, "--speed", 9600, self.work / "a.json")
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertEqual(done.stdout, 'row 12  052:07  file "?" [B0]  adapter "?" [B1]\n')
        self.assertEqual(len(written_frames(a_sim)), 2)

    def test_empty_or_repeated_options_and_odd_port_lists(self):
        sim, port = self.sim()
        path = self.save(self.config(port))
        before = sim.stats()["rx_bytes"]
        for args in (["apply", "--port", port, "--rows", "", path], ["apply", "--port", port, "--rows=  ", path],
                     ["find", "--ports-from", ""], ["read", "--port", port, "-o", "a.json", "-o", "b.json"],
                     ["read", "--port", port, "--speed", 9600, "--speed", 19200],
                     ["read", "--port", port, "--trace", "a", "--trace", "b"]):
            done = self.krt42(*args)
            self.assertEqual(done.returncode, 2, (args, done.stderr))
        self.assertEqual(sim.stats()["rx_bytes"], before)

        # A byte order mark, comments after a name, blanks around it; --ports-from adds up.
        _, other = self.sim(name="other")
        (self.work / "one.txt").write_bytes(f"\ufeff{port}   # the first one\n".encode())
        (self.work / "two.txt").write_text(f"\t{other}\t#the second\n\n# done\n")
        done = self.krt42("find", "--ports-from", self.work / "one.txt", "--ports-from", self.work / "two.txt")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.count("KRT42 at 9600 bit/s"), 2)

        # A port whose name holds {port}: the pattern is filled in once.
        _, odd = self.sim(name="odd{port}name")
        (self.work / "out").mkdir()
        done = self.krt42("read", "--port", odd, "--port", port, "--speed", 9600, "-o", self.work / "out" / "{port}.json",
                          timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(sorted(p.name for p in (self.work / "out").iterdir()), ["com.json", "odd{port}name.json"])

    def test_outputs_and_traces_never_replace_or_reach_a_device(self):
        sim, port = self.sim()
        # A symbolic link is followed, never replaced.
        target, link = self.work / "real.json", self.work / "link.json"
        link.symlink_to(target)
        self.assertEqual(self.krt42("read", "--port", port, "--speed", 9600, "-o", link).returncode, 0)
        self.assertTrue(link.is_symlink())
        self.assertEqual(len(json.loads(target.read_text())["rows"]), 104)
        # A FIFO is written as it is.
        fifo = self.work / "fifo"
        os.mkfifo(fifo)
        got = []
        reader = threading.Thread(target=lambda: got.append(fifo.read_bytes()))
        reader.start()
        self.assertEqual(self.krt42("read", "--port", port, "--speed", 9600, "-o", fifo).returncode, 0)
        reader.join(30)
        self.assertEqual(len(json.loads(got[0])["rows"]), 104)
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))

        # The port itself, a terminal, or standard output on the port: refused, nothing sent.
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        before = sim.stats()["rx_bytes"]
        for args in (["read", "--port", port, "-o", port], ["read", "--port", port, "--trace", port],
                     ["read", "--port", port, "--trace", os.ttyname(slave)],
                     ["read", "--port", port, "-o", os.ttyname(slave)]):
            done = self.krt42(*args)
            self.assertEqual(done.returncode, 2, (args, done.stderr))
        with open(port, "wb") as line:
            done = subprocess.run([KRT42, "read", "--port", port, "--speed", "9600"], stdout=line,
                                  stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertEqual(sim.stats()["rx_bytes"], before)
        self.assertTrue(os.path.islink(port))

    def test_what_krt42_writes_it_reads_back_whatever_the_ports_name(self):
        _, port = self.sim(name=os.fsdecode(b"com\xff\xfe"))
        out, trace = self.work / "c.json", self.work / "t.trace"
        done = self.krt42("read", "--port", port, "--speed", 9600, "-o", out, "--trace", trace)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(json.loads(out.read_bytes())["port"], f"{self.work}/com\\xFF\\xFE")
        self.assertEqual(self.krt42("diff", "--port", port, "--speed", 9600, out).returncode, 0)
        self.assertTrue(trace.read_bytes().isascii())
        self.assertIn(b"com\\xFF\\xFE > ", trace.read_bytes())

    def test_a_trace_reader_that_pauses_never_slows_the_line(self):
        ports = [self.sim("--mode", "loader", name=f"l{i}")[1] for i in range(3)]
        image = self.work / "P.HEX"
        image.write_bytes(program(4000))  # 500 blocks: 10 s at a block a tick
        fifo = self.work / "trace.fifo"
        os.mkfifo(fifo)
        lines = []

        def pausing_reader():
            with open(fifo, "rb") as f:
                # The smallest pipe there is: a writer that waits for this reader waits at once.
                fcntl.fcntl(f.fileno(), fcntl.F_SETPIPE_SZ, 4096)
                lines.append(f.readline())
                time.sleep(5)  # the reader is slow on purpose: the load must not wait for it
                lines.extend(f.read().splitlines())

        reader = threading.Thread(target=pausing_reader)
        reader.start()
        done = self.krt42("load", "--speed", 9600, *[w for p in ports for w in ("--port", p)], "--trace", fifo, image)
        reader.join(30)
        self.assertEqual(done.returncode, 0, done.stderr)
        for port in ports:
            times = [float(line.split()[0]) for line in lines
                     if line.split()[1:3] == [port.encode(), b">"]]
            blocks = len(times) - 1  # the "++" first
            self.assertEqual(blocks, 500, port)
            # From the first block to the last: one tick each, within 1 %.
            ratio = (times[-1] - times[1]) / ((blocks - 1) * 20.0)
            self.assertLess(abs(ratio - 1), 0.01, (port, ratio))

    def test_a_held_line_makes_rows_unanswered_and_the_rest_are_still_tried(self):
        _, port = self.sim("--stall-at-write")
        target = self.config(port)
        # The first write stalls the line; the next ones wait behind it until the queue of frames
        # is full, and the last cannot be sent at all.
        for row in range(10, 17):
            target["rows"][row]["value"] = "7"
        done = self.krt42("apply", "--port", port, "--speed", 9600, self.save(target))
        self.assertEqual(done.returncode, 5, done.stdout + done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(len(lines), 8, done.stdout)
        self.assertTrue(all(line.endswith("  unanswered") for line in lines[:6]), lines)
        self.assertTrue(lines[6].endswith("  unanswered (not sent)"), lines)
        self.assertEqual(lines[7], "apply: 7 rows differ; 0 written, 0 refused, 7 unanswered; nothing to read back")
        self.assertNotIn("interrupted", done.stderr)

    def test_stops_say_how_far_each_port_came(self):
        # Ctrl-C while the trace's FIFO waits for a reader is a stop like any other.
        sim, port = self.sim()
        fifo = self.work / "nobody.fifo"
        os.mkfifo(fifo)
        proc = subprocess.Popen([KRT42, "read", "--port", port, "--trace", str(fifo)], stderr=subprocess.PIPE)
        wait_until(lambda: Path(f"/proc/{proc.pid}/syscall").read_text().split()[0] in ("2", "257"), 10,
                   "krt42 to wait in the FIFO's open")
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=20)
        self.assertEqual(proc.returncode, 130, err)
        self.assertEqual(sim.stats()["rx_bytes"], 0)

        captures, ports = [], []
        for name in ("s1", "s2"):
            captures.append(self.work / f"{name}.bin")
            ports.append(self.sim("--mode", "loader", "--capture", captures[-1], name=name)[1])
        image = self.work / "BIG.HEX"
        image.write_bytes(program(8000))
        proc = subprocess.Popen([KRT42, "load", "--port", ports[0], "--port", ports[1], str(image)],
                                stderr=subprocess.PIPE, text=True)
        wait_until(lambda: all(c.exists() and c.stat().st_size > 100 for c in captures), 20, "both loads to run")
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=20)
        self.assertEqual(proc.returncode, 130, err)
        for port in ports:
            self.assertRegex(err, rf"{port}: stopped, \d+/8000 bytes, 0 restarts")

    def test_the_worst_code_wins_whichever_port_has_it(self):
        _, silent = self.sim("--silent", name="silent")
        _, good = self.sim(name="good")
        done = self.krt42("find", "--port", silent, "--port", good)
        self.assertEqual(done.returncode, 3, done.stdout + done.stderr)
        _, changed = self.sim(name="changed")
        path = self.save(self.config(good))
        self.assertEqual(self.krt42("write", "--port", changed, "--speed", 9600, "003", "9").returncode, 0)
        done = self.krt42("diff", "--port", changed, "--port", good, "--speed", 9600, path)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
