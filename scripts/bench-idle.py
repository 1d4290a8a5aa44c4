#!/usr/bin/env python3
"""Benchmark of idle CPU use: each program runs under Wine with its port open and the simulated
adapter behind it (Vantrel connected, Quillon with no load), untouched for a while; the CPU time that
its Wine process and the prefix's wineserver spent in that time is read from /proc. A figure, not a
test.

    scripts/bench-idle.py [--arch 32|64] [--sim PATH] [--work DIR] [--seconds 30]
"""

import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "e2e")]


def measure(rig, exe, seconds):
    import faultkit
    program = faultkit.program_pid(rig, exe)
    servers = faultkit.wine_pids(rig, "wineserver")
    start = time.monotonic()
    cpu0 = faultkit.cpu_seconds(program), sum(faultkit.cpu_seconds(p) for p in servers)
    time.sleep(seconds)  # the measurement itself: the programs are left alone for this long
    cpu1 = faultkit.cpu_seconds(program), sum(faultkit.cpu_seconds(p) for p in servers)
    wall = time.monotonic() - start
    return wall, cpu1[0] - cpu0[0], cpu1[1] - cpu0[1], faultkit.rss_kb(program)


def main():
    import faultkit
    args = faultkit.bench_arguments(__doc__, lambda p: p.add_argument("--seconds", type=float, default=30.0))
    from krtrig import Rig

    print(f"idle CPU over {args.seconds:.0f} s (program process; wineserver of its prefix)")
    with Rig("bench-idle-vantrel") as rig:
        _, proc, win = faultkit.start_vantrel(rig)
        wall, cpu, server, rss = measure(rig, "Vantrel.exe", args.seconds)
        win.close()
    print(f"Vantrel, connected:  {cpu:.2f} s CPU = {cpu / wall * 100:.2f} % of a core; wineserver "
          f"{server:.2f} s = {server / wall * 100:.2f} %; RSS {rss} kB")
    with Rig("bench-idle-quillon") as rig:
        _, proc, win, _ = faultkit.start_quillon(rig)
        win.wait_status(1, " COM3,8,n,9600b ", 20)
        wall, cpu, server, rss = measure(rig, "Quillon.exe", args.seconds)
        win.close()
    print(f"Quillon, port open:  {cpu:.2f} s CPU = {cpu / wall * 100:.2f} % of a core; wineserver "
          f"{server:.2f} s = {server / wall * 100:.2f} %; RSS {rss} kB")


if __name__ == "__main__":
    main()
