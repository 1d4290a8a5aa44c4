"""What the tests of krt42 against the simulated adapter share: a folder of their own, simulators on
pseudo-terminals that end with the test, and krt42 run as a script runs it."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

TESTS = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(TESTS))

from krtrig import Simulator, wait_until  # noqa: E402,F401

KRT42 = os.environ.get("KRT42") or str(TESTS.parent / "build" / "native" / "cli" / "krt42")


def word(arg):
    """A command-line word: bytes as they are (values that are no UTF-8), anything else as text."""
    return arg if isinstance(arg, bytes) else str(arg)


class Krt42Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.work = Path(self.dir.name)
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            sim.close()
        self.dir.cleanup()

    def sim(self, *args, speed=9600, name="com"):
        """A simulated adapter behind the link `name` in the test's folder: (simulator, port)."""
        sim = Simulator(self.work / name, self.work / f"{name}.log", speed, [word(a) for a in args])
        self.sims.append(sim)
        return sim, str(self.work / name)

    def run_krt42(self, *args, timeout=60, text=True):
        return subprocess.run([KRT42, *[word(a) for a in args]], capture_output=True, text=text, timeout=timeout)
