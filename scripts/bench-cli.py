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
  eight loads at once          eight 4096-byte loads, one port each, against one such load alone:
                               wall-time ratio (goal at most 1.1)
  eight idle ports             find on eight silent adapters (10 s of waiting between probes): the
                               CPU time per port as a share of one core (goal below 1 %)

    scripts/bench-cli.py [--krt42 PATH] [--sim PATH] [--runs 1] [--only-many]
"""

import argparse
import os
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


def cpu_timed(args):
    """Wall time, CPU seconds (user + system) and exit code of one run."""
    started = time.monotonic()
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return time.monotonic() - started, usage.ru_utime + usage.ru_stime, proc.returncode


def many(krt42, work, run, Simulator):
    """Eight ports at once against one alone, and what eight idle ports cost."""
    image = work / "MANY.HEX"
    image.write_bytes(bytes(0x30 + i % 64 for i in range(4096)))
    loaders = [Simulator(work / f"m{i}", work / f"m{i}.log", 19200,
                         ["--mode", "loader", "--capture", str(work / f"m{i}.cap")]) for i in range(8)]
    silent = [Simulator(work / f"s{i}", work / f"s{i}.log", 9600, ["--silent"]) for i in range(8)]
    try:
        one, _, code1 = cpu_timed([krt42, "load", "--port", str(work / "m0"), str(image)])
        ports = [w for i in range(8) for w in ("--port", str(work / f"m{i}"))]
        eight, _, code8 = cpu_timed([krt42, "load", *ports, str(image)])
        whole = sum((work / f"m{i}.cap").stat().st_size for i in range(8))
        print(f"run {run}: one 4096-byte load {one:.2f} s (exit {code1}), eight at once {eight:.2f} s (exit {code8}, "
              f"{whole} bytes received in all): ratio {eight / one:.3f}")
        ports = [w for i in range(8) for w in ("--port", str(work / f"s{i}"))]
        wall, cpu, code = cpu_timed([krt42, "find", *ports])
        print(f"run {run}: find on eight silent adapters: {wall:.2f} s (exit {code}), {cpu:.2f} s CPU in all, "
              f"{cpu / wall / 8 * 100:.2f} % of a core per port")
    finally:
        for sim in loaders + silent:
            sim.close()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--krt42", default=str(ROOT / "build" / "native" / "cli" / "krt42"))
    p.add_argument("--sim", default=str(ROOT / "build" / "native" / "simulator" / "krt42sim"))
    p.add_argument("--runs", type=int, default=1)
    p.add_argument("--only-many", action="store_true", help="only the eight-port figures")
    args = p.parse_args()
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
                many(args.krt42, work, run, Simulator)
                if args.only_many:
                    continue
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
