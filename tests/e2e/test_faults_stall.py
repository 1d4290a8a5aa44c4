"""An adapter that stops reading in the middle of a write: the write hangs (the simulator holds the
line with XOFF and reads nothing), the window stays responsive, and closing the program returns in
about the 5 s that the driver gives a hung write before it ends the write worker."""

import time
import unittest

import krtrig
from faultkit import (LOAD_DONE, NO_LINK, PROGRESS, START_BUTTON, choose_program, program_bytes,
                      received, start_quillon, start_vantrel, timed_probe)
from krtrig import Rig, wait_until

# The driver waits 5 s for a hung write; Wine's start-up of the close path and the wineserver add a
# little. A close that waits for the write itself never returns while the line is held.
CLOSE_LIMIT = 5.0 + 4.0


class StalledLine(unittest.TestCase):
    def close_in_time(self, rig, win, proc):
        started = time.monotonic()
        win.close()
        rig.wait_exit(proc, 30)
        took = time.monotonic() - started
        print(f"close with a hung write took {took:.1f} s")
        self.assertLess(took, CLOSE_LIMIT)
        return took

    def test_vantrel_read_request_into_a_stalled_line(self):
        with Rig("faults-stall-vantrel") as rig:
            sim, proc, win = start_vantrel(rig, sim_args=["--ixon"])
            sim.command("stall on")
            rx_before = sim.command("stats")
            win.key("f5")
            # The request cannot go out, so no answer: the read runs into its time-outs while the
            # window goes on answering.
            win.wait_status(1, NO_LINK, 15)
            for _ in range(10):
                timed_probe(self, lambda: win.status(0))
                timed_probe(self, lambda: win.enabled(1))
            self.assertEqual(sim.command("stats"), rx_before, "the stalled adapter read something")
            self.close_in_time(rig, win, proc)
            self.assertTrue((rig.run_dir / "Vantrel.i").exists(), "the settings are written at exit")

    def test_quillon_load_into_a_stalled_line(self):
        with Rig("faults-stall-quillon") as rig:
            sim, proc, win, capture = start_quillon(rig, sim_args=["--ixon"])
            (rig.run_dir / "P.HEX").write_bytes(program_bytes(20000))
            choose_program(rig, win, "P.HEX")
            win.click(START_BUTTON)
            wait_until(lambda: len(received(capture)) > 200, 30, "the load to be under way")
            sim.command("stall on")
            # The load stands still at the held write; the bar stops moving.
            stopped_at = win.progress(PROGRESS)
            wait_until(lambda: timed_probe(self, lambda: win.progress(PROGRESS)) == stopped_at and
                       time.sleep(1.0) is None and win.progress(PROGRESS) == stopped_at,
                       20, "the load to stand still")
            self.assertNotEqual(win.text(PROGRESS), LOAD_DONE)
            for _ in range(10):
                timed_probe(self, lambda: win.status(1))
            self.close_in_time(rig, win, proc)
            self.assertTrue((rig.run_dir / "Quillon.i").exists(), "the settings are written at exit")


if __name__ == "__main__":
    krtrig.main()
