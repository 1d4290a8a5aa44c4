#!/usr/bin/env python3
"""Benchmark of Vantrel's search against a silent adapter: the times at which the probes arrive on the
far end of COM3 (a pseudo-terminal that only listens), from the first probe at 1200 bit/s to the
probe at 4800 bit/s that the program sends when it gives up, each wait as a ratio to its nominal
length of 100, 75, 75, 50, 50, 50, 50 and 50 ticks of 20 ms. A figure, not a test: it never fails on
a slow result.

    scripts/bench-search.py [--arch 32|64] [--sim PATH] [--work DIR] [--runs 1]
"""

import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "e2e")]
TICK_S = 0.020
WAITS = [100, 75, 75, 50, 50, 50, 50, 50]
SPEEDS = [1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 4800]


def one_run(number):
    import faultkit
    from krtrig import Rig, windows_exe

    with Rig(f"bench-search-{number}") as rig:
        link = rig.work / "com3"
        rig.map_com(3, link)
        peer = rig.pty_peer(link)
        (rig.run_dir / "Vantrel.i").write_bytes(faultkit.settings_com3())
        rig.start()
        listener = faultkit.FrameListener(peer)
        rig.launch(windows_exe("configurator/Vantrel.exe"))
        deadline = time.monotonic() + 60
        while len(listener.frames) < len(SPEEDS):
            if time.monotonic() > deadline:
                raise SystemExit(f"run {number}: only {len(listener.frames)} probes arrived")
            listener.poll()
            time.sleep(0.001)
        return listener.frames


def main():
    import faultkit
    args = faultkit.bench_arguments(__doc__, lambda p: p.add_argument("--runs", type=int, default=1))

    nominal_total = sum(WAITS) * TICK_S
    print(f"search with a silent adapter: nominal {sum(WAITS)} ticks x 20 ms = {nominal_total:.1f} s to the "
          f"probe at 4800")
    for run in range(1, args.runs + 1):
        frames = one_run(run)
        speeds = [speed for _, speed, _ in frames]
        total = frames[-1][0] - frames[0][0]
        print(f"run {run}: probes at {speeds}{'' if speeds == SPEEDS else ' (UNEXPECTED ORDER)'}")
        print(f"  total to the fallback at 4800: {total:.3f} s, ratio {total / nominal_total:.4f}")
        for i, ticks in enumerate(WAITS):
            wait = frames[i + 1][0] - frames[i][0]
            print(f"  wait at {SPEEDS[i]:>6}: {wait:.3f} s for {ticks} ticks, ratio {wait / (ticks * TICK_S):.4f}")


if __name__ == "__main__":
    main()
