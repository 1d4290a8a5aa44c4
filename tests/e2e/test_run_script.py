"""The README's run command as a user meets it: scripts/run with --for starts a program against the
simulator, closes it normally after that time and sums up the exchange in its last line."""

import os
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import krtrig

ROOT = Path(__file__).resolve().parent.parent.parent


class RunFor(unittest.TestCase):
    def run_script(self, home, *args):
        env = dict(os.environ, KRT_HOME=str(home), KRT_NATIVE_DIR=str(Path(os.environ["KRT_SIM"]).parents[1]))
        env.pop("DISPLAY", None)
        done = subprocess.run([sys.executable, str(ROOT / "scripts" / "run"), *args], env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
        lines = done.stdout.strip().splitlines()
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertNotIn("Traceback", done.stderr)
        return lines

    def test_vantrel_and_quillon_run_for_a_while_and_end_cleanly(self):
        with tempfile.TemporaryDirectory(dir=krtrig.work_root()) as home:
            home = Path(home)
            lines = self.run_script(home, "vantrel", "--for", "15")
            self.assertIn(f"the {krtrig.choose_arch().bits}-bit programs", lines[1])
            m = re.search(r"received (\d+) frames, answered (\d+)$", lines[-1])
            self.assertTrue(m and int(m.group(2)) >= 1, lines[-1])
            size, fields = krtrig.read_settings(home / "run" / "Vantrel.i", krtrig.VANTREL_RECORD)
            self.assertEqual((size, fields[:3]), (264, (0, 9600, 3)), "closed normally: the settings were written")

            lines = self.run_script(home, "quillon", "--for", "8")
            self.assertRegex(lines[-1], r"Quillon ended cleanly .* received 0 bytes$")


if __name__ == "__main__":
    krtrig.main()
