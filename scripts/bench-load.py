#!/usr/bin/env python3
"""Benchmark of Quillon's transfer: loads a 32768-byte program under Wine against the simulated
adapter and prints how long the adapter's side took from the first byte received to the last,
against the pace the loader is built for: one 8-byte block per 20 ms timer tick, 4096 ticks for a
full image. A figure, not a test: it prints and never fails on a slow result.

    scripts/bench-load.py [--arch 32|64] [--sim PATH] [--work DIR] [--runs 1]

Each run takes about 85 s.
"""

import os
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
IMAGE = 32768
BLOCK = 8
TICK_S = 0.020


def one_run(number):
    from krtrig import Rig, wait_until
    from faultkit import choose_program, start_quillon
    from test_quillon_load import CHOOSE_BUTTON, START_BUTTON, hex_program

    with Rig(f"bench-load-{number}") as rig:
        sim, proc, win, capture = start_quillon(rig)
        program = hex_program(IMAGE)
        (rig.run_dir / "BENCH.HEX").write_bytes(program)
        choose_program(rig, win, "BENCH.HEX")
        want = 2 + IMAGE

        # The simulator writes every byte it takes from the line to its capture file at once: the
        # file's size, polled often, times the adapter's side of the transfer.
        samples = []  # (time, size) whenever the size changed
        win.click(START_BUTTON)
        deadline = time.monotonic() + 4 * IMAGE / BLOCK * TICK_S + 60
        size = 0
        while size < want:
            now = time.monotonic()
            if now > deadline:
                raise SystemExit(f"run {number}: only {size} of {want} bytes arrived")
            try:
                new = os.stat(capture).st_size
            except FileNotFoundError:
                new = 0
            if new != size:
                samples.append((now, new))
                size = new
            time.sleep(0.002)
        data = capture.read_bytes()
        correct = data == b"++" + program
        wait_until(lambda: win.enabled(CHOOSE_BUTTON), 30, "the end of the load")
        win.close()
        win.wait_gone()
        rig.wait_exit(proc)

    first, last = samples[0][0], samples[-1][0]
    gaps = [b[0] - a[0] for a, b in zip(samples, samples[1:])]
    return last - first, gaps, correct


def main():
    sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "e2e")]
    import faultkit
    args = faultkit.bench_arguments(__doc__, lambda p: p.add_argument("--runs", type=int, default=1))

    nominal = IMAGE / BLOCK * TICK_S
    print(f"load of {IMAGE} bytes in {IMAGE // BLOCK} blocks of {BLOCK}; nominal {IMAGE // BLOCK} ticks "
          f"x {TICK_S * 1000:.0f} ms = {nominal:.2f} s")
    results = []
    for run in range(1, args.runs + 1):
        elapsed, gaps, correct = one_run(run)
        results.append(elapsed)
        gap_ms = sorted(g * 1000 for g in gaps)
        p99 = gap_ms[min(len(gap_ms) - 1, int(len(gap_ms) * 0.99))] if gap_ms else 0.0
        print(f"run {run}: first to last byte {elapsed:.2f} s, ratio to nominal {elapsed / nominal:.4f}, "
              f"{elapsed / (IMAGE / BLOCK) * 1000:.2f} ms per block; arrivals seen {len(gaps) + 1}, "
              f"gap median {statistics.median(gap_ms) if gap_ms else 0:.1f} ms, p99 {p99:.1f} ms, "
              f"max {max(gap_ms) if gap_ms else 0:.1f} ms; bytes {'as sent' if correct else 'DIFFER'}")
    if len(results) > 1:
        mean = statistics.mean(results)
        print(f"mean of {len(results)} runs: {mean:.2f} s, ratio {mean / nominal:.4f}")


if __name__ == "__main__":
    main()
