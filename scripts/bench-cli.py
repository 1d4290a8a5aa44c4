#!/usr/bin/env python3
"""Benchmark of krt42 (native) against the simulated adapter on pseudo-terminals: each job's wall
time as a ratio to the schedule it keeps (20 ms ticks). A figure, not a test: it never fails on a
slow result.

  find with a silent adapter   the whole search, 500 ticks (100 + 75 + 75 + 5 x 50) = 10.0 s
  read, adapter answering      six requests, one a tick at best = 120 ms (the process's own start,
                               measured with --version, taken off)
  load of 32768 bytes          4096 blocks of 8, one a tick = 81.92 s
  the same load with --trace   the same schedule: the trace is written between ticks, so the
                               ratio should match the load's without it

    scripts/bench-cli.py [--krt42 PATH] [--sim PATH] [--runs 1]
"""

import argparse
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
TICK_S = 0.020


def timed(args):
    started = time.monotonic()
    done = subprocess.run(args, capture_output=True, text=True)
    return time.monotonic() - started, done


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--krt42", default=str(ROOT / "build" / "native" / "cli" / "krt42"))
    p.add_argument("--sim", default=str(ROOT / "build" / "native" / "simulator" / "krt42sim"))
    p.add_argument("--runs", type=int, default=1)
    args = p.parse_args()
    import os
    os.environ["KRT_SIM"] = str(Path(args.sim).resolve())
    from krtrig import Simulator

    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        silent = Simulator(work / "silent", work / "silent.log", 9600, ["--silent"])
        answering = Simulator(work / "com", work / "com.log", 9600)
        loader = Simulator(work / "ldr", work / "ldr.log", 19200, ["--mode", "loader", "--capture", str(work / "cap")])
        image = work / "IMAGE.HEX"
        image.write_bytes(bytes(0x30 + i % 64 for i in range(32768)))
        try:
            for run in range(1, args.runs + 1):
                wall, done = timed([args.krt42, "find", "--port", str(work / "silent")])
                print(f"run {run}: find, silent adapter: {wall:.2f} s (exit {done.returncode}), "
                      f"ratio {wall / (500 * TICK_S):.3f} to 500 ticks")
                start_up = min(timed([args.krt42, "--version"])[0] for _ in range(3))
                wall, done = timed([args.krt42, "read", "--port", str(work / "com"), "--speed", "9600"])
                read = wall - start_up
                print(f"run {run}: read of 104 rows: {read * 1000:.0f} ms after a {start_up * 1000:.0f} ms start "
                      f"(exit {done.returncode}), ratio {read / (6 * TICK_S):.2f} to 6 ticks")
                wall, done = timed([args.krt42, "load", "--port", str(work / "ldr"), str(image)])
                sent = (work / "cap").stat().st_size
                print(f"run {run}: load of 32768 bytes: {wall:.2f} s (exit {done.returncode}, {sent} bytes "
                      f"received), ratio {wall / (4096 * TICK_S):.4f} to 4096 ticks")
                trace = work / "load.trace"
                traced, done = timed([args.krt42, "load", "--port", str(work / "ldr"), "--trace", str(trace),
                                      str(image)])
                sent = (work / "cap").stat().st_size - sent
                lines = len(trace.read_bytes().splitlines()) if trace.exists() else 0
                print(f"run {run}: load of 32768 bytes with --trace: {traced:.2f} s (exit {done.returncode}, "
                      f"{sent} bytes received, {lines} trace lines), ratio {traced / (4096 * TICK_S):.4f} "
                      f"to 4096 ticks, {traced / wall:.4f} of the load without")
        finally:
            for sim in (silent, answering, loader):
                sim.close()


if __name__ == "__main__":
    main()
