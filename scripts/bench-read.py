#!/usr/bin/env python3
"""Benchmark of Vantrel's parameter read against an adapter that answers at once: a small adapter on
the far end of COM3 answers each request as soon as its last byte is in and notes the times; the
read's six requests then show how long each exchange takes (answer out to the next request in) and
how long the whole read takes (first request in to the last answer out). The nominal pace is one
request per 20 ms timer tick plus the time the bytes take. A figure, not a test.

    scripts/bench-read.py [--arch 32|64] [--sim PATH] [--work DIR] [--runs 3]
"""

import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "e2e")]
REQUESTS = 6


def answer(request):
    """The answer to one of the configurator's requests, as bytes on the wire."""
    import faultkit
    code = request[4]
    data = request[request.index(b"\x10\x02") + 2:request.rindex(b"\x10\x03")]
    fields = data.rstrip(b"\x0c").split(b"\t")[1:]
    param = fields[1]
    if code == 0x1D:
        values = {b"003": b"2", b"006": b"17", b"099": b"3.05"}
        return bytes.fromhex(faultkit.param_answer(param, values.get(param, b"0")))
    start, count = fields[2], int(fields[3])
    if param == b"099":
        values = [b"1207" if start == b"1" else b"42"]
    else:
        values = [b"500\t" + "мс".encode("cp866")] + [b"%d" % (1000 + i) for i in range(1, count)]
    return bytes.fromhex(faultkit.array_answer(param, start, values[:count]))


def one_rig(runs):
    import faultkit
    from krtrig import VANTREL_CAPTION, Rig, windows_exe

    results = []
    with Rig("bench-read") as rig:
        link = rig.work / "com3"
        rig.map_com(3, link)
        peer = rig.pty_peer(link)
        (rig.run_dir / "Vantrel.i").write_bytes(faultkit.settings_com3())
        rig.start()
        listener = faultkit.FrameListener(peer)
        rig.launch(windows_exe("configurator/Vantrel.exe"))
        win = rig.wait_window(VANTREL_CAPTION)

        def serve(until, timeout=60):
            """Answers every request at once; returns [(request in, answer out)] once until() holds."""
            log, deadline = [], time.monotonic() + timeout
            while not until(log):
                if time.monotonic() > deadline:
                    raise SystemExit(f"no end of the exchange after {timeout} s ({len(log)} requests)")
                for at, _, request in listener.poll():
                    peer.write(answer(request))
                    log.append((at, time.monotonic()))
                time.sleep(0.0005)
            return log

        serve(lambda log: len(log) >= 1)  # the probe of the search
        win.wait_status(1, "Подключение на COM3 (1200)", 30)
        for _ in range(runs):
            win.key("f5")
            log = serve(lambda log: len(log) >= REQUESTS)
            win.wait_status(0, faultkit.FINISHED, 30)
            results.append(log)
            win.wait_status(0, " ", 10)
        win.close()
    return results


def main():
    import faultkit
    args = faultkit.bench_arguments(__doc__, lambda p: p.add_argument("--runs", type=int, default=3))

    print(f"full read of {REQUESTS} requests at 1200 bit/s against an adapter that answers at once")
    for run, log in enumerate(one_rig(args.runs), 1):
        total = log[-1][1] - log[0][0]
        turns = [log[i + 1][0] - log[i][1] for i in range(len(log) - 1)]
        print(f"run {run}: total {total * 1000:.0f} ms, {total / REQUESTS * 1000:.1f} ms per request; answer out "
              f"to next request in: {', '.join(f'{t * 1000:.0f}' for t in turns)} ms "
              f"(mean {sum(turns) / len(turns) * 1000:.1f} ms = {sum(turns) / len(turns) / 0.020:.2f} ticks)")


if __name__ == "__main__":
    main()
