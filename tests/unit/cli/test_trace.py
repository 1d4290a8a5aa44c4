"""krt42's line trace against the simulated adapter, and the simulator's trace of the same run:
a read shows its six requests and six answers decoded, a load every byte it sent, and the two
ends of one read agree frame for frame."""

import re
import unittest

from krt42case import Krt42Case

LINE = re.compile(r"^ *(\d+)\.(\d{3}) (\S+) ([<>*]) (.*)$")

# The heads of the six requests of a read, and the function code of each answer.
HEADS = ['"0" "003" |', '"0" "006" |', '"0" "099" |', '"0" "099" "1" "001" |', '"0" "099" "2" "001" |',
         '"0" "052" "0" "099" |']
REQUESTS = ["fn=1D FN_READ_PARAM"] * 3 + ["fn=0C FN_READ_ARRAY"] * 3
ANSWERS = ["fn=03 FN_PARAM_VALUE"] * 3 + ["fn=14 FN_ARRAY_VALUES"] * 3


def parse(text):
    """(milliseconds, port, direction, text) for each line; every line must keep to the format."""
    lines = []
    for raw in text.splitlines():
        m = LINE.match(raw)
        if not m:
            raise AssertionError(f"not a trace line: {raw!r}")
        lines.append((int(m[1]) + int(m[2]) / 1000, m[3], m[4], m[5]))
    return lines


def frames(lines):
    """(direction, frame text) of the decoded frame lines, in order."""
    return [(d, t[len("frame "):]) for _, _, d, t in lines if d in "<>" and t.startswith("frame ")]


def stream(lines, direction):
    """The bytes of one direction's hex lines, in order."""
    return bytes(int(h, 16) for _, _, d, t in lines if d == direction and not t.startswith("frame ")
                 for h in t.split())


class Trace(Krt42Case):
    def test_a_read_shows_six_requests_and_six_answers_on_both_ends_of_the_line(self):
        sim_trace = self.work / "sim.trace"
        sim, port = self.sim("--trace", sim_trace)
        trace = self.work / "krt42.trace"
        done = self.run_krt42("read", "--port", port, "--speed", "9600", "--format", "csv", "--trace", trace)
        self.assertEqual(done.returncode, 0, done.stderr)
        ours = parse(trace.read_text(encoding="ascii"))

        self.assertEqual({p for _, p, _, _ in ours}, {port})
        times = [ms for ms, _, _, _ in ours]
        self.assertEqual(times, sorted(times))
        events = [t for _, _, d, t in ours if d == "*"]
        self.assertEqual(events, ["open", "speed 9600 8N1", "close"])

        decoded = frames(ours)
        self.assertEqual([d for d, _ in decoded], [">", "<"] * 6, decoded)
        for k in range(6):
            self.assertRegex(decoded[2 * k][1], f"^{re.escape(REQUESTS[k] + ' fields ' + HEADS[k])} crc .* ok$")
            self.assertRegex(decoded[2 * k + 1][1], f"^{re.escape(ANSWERS[k] + ' fields ' + HEADS[k])} .* ok$")
        self.assertIn('"500"', decoded[11][1])  # the polling period, element 0 of 052
        # The last request as it goes out, checksum and all.
        self.assertIn("0C 10 03 D3 A2", "\n".join(t for _, _, d, t in ours if d == ">"))

        # The simulator's trace of the same run: the same frames, each seen from the other end.
        sim.close()
        theirs = parse(sim_trace.read_text(encoding="ascii"))
        self.assertEqual({p for _, p, _, _ in theirs}, {port})
        flipped = [({">": "<", "<": ">"}[d], t) for d, t in frames(theirs)]
        self.assertEqual(flipped, decoded)
        self.assertEqual(stream(theirs, "<"), stream(ours, ">"))
        self.assertEqual(stream(theirs, ">"), stream(ours, "<"))
        self.assertIn("speed 9600 8N1", [t for _, _, d, t in theirs if d == "*"])

    def test_a_load_shows_every_byte_it_sent_and_the_adapters_R(self):
        capture = self.work / "capture.bin"
        _, port = self.sim("--mode", "loader", "--capture", capture, "--r-after", "100", "--ixon")
        program = bytes(0x30 + (i * 7) % 64 for i in range(300))
        (self.work / "P.HEX").write_bytes(program)
        trace = self.work / "load.trace"
        done = self.run_krt42("load", "--port", port, "--speed", "9600", "--trace", trace, self.work / "P.HEX")
        self.assertEqual(done.returncode, 0, done.stderr)
        ours = parse(trace.read_text(encoding="ascii"))

        sent = stream(ours, ">")
        self.assertEqual(sent, capture.read_bytes())
        self.assertTrue(sent.startswith(b"++") and sent.endswith(b"+" * 8 + program), sent[:40])
        self.assertIn(b"R", stream(ours, "<"))
        self.assertEqual(frames(ours), [])
        self.assertEqual([t for _, _, d, t in ours if d == "*"][-1], "close")


if __name__ == "__main__":
    unittest.main(verbosity=2)
