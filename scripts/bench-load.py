#!/usr/bin/env python3
"""Benchmark of Quillon's transfer: loads a 32768-byte program under Wine against the simulated
adapter and prints how long the adapter's side took from the first byte received to the last,
against the pace the loader is built for: one 8-byte block per 20 ms timer tick, 4096 ticks for a
full image. A figure, not a test: it prints and never fails on a slow result.

    scripts/bench-load.py [--win32 build/win32] [--sim build/native/simulator/krt42sim] [--runs 1]

The Windows tree must hold loader/Quillon.exe and tests/win32/probe.exe; the native tree the
simulator. Each run takes about 85 s.
"""

import argparse
import os
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
IMAGE = 32768
BLOCK = 8
TICK_S = 0.020


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--win32", default=str(ROOT / "build" / "win32"), help="Windows build tree")
    p.add_argument("--sim", default=str(ROOT / "build" / "native" / "simulator" / "krt42sim"), help="krt42sim")
    p.add_argument("--work", default=None, help="work directory for the Wine prefixes (default: a temp dir)")
    p.add_argument("--runs", type=int, default=1)
    return p.parse_args()


def one_run(number):
    from krtrig import Rig, wait_until
    from test_quillon_load import START_BUTTON, choose_program, hex_program, start_loader

    with Rig(f"bench-load-{number}") as rig:
        proc, win, sim, capture = start_loader(rig)
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
        wait_until(lambda: win.enabled(1001), 30, "the end of the load")
        win.close()
        win.wait_gone()
        rig.wait_exit(proc)

    first, last = samples[0][0], samples[-1][0]
    gaps = [b[0] - a[0] for a, b in zip(samples, samples[1:])]
    return last - first, gaps, correct


def main():
    args = parse_args()
    # Wine wants absolute paths for everything it is handed.
    args.win32, args.sim = (str(Path(p).resolve()) for p in (args.win32, args.sim))
    os.environ["KRT_WIN32_DIR"] = args.win32
    os.environ["KRT_SIM"] = args.sim
    if args.work:
        os.environ["KRT_E2E_WORK"] = str(Path(args.work).resolve())
    sys.path.insert(0, str(ROOT / "tests" / "e2e"))
    for need in (Path(args.win32) / "loader" / "Quillon.exe", Path(args.win32) / "tests" / "win32" / "probe.exe",
                 Path(args.sim)):
        if not need.exists():
            raise SystemExit(f"missing {need}: build it first")

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
