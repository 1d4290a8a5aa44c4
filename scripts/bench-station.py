#!/usr/bin/env python3
"""Figures of the station (krt42 serve), against simulated adapters on pseudo-terminals. Figures, not
tests: nothing here fails for a slow machine.

  eight loads through the API   eight 4096-byte loads started with one POST /api/load, against one
                                krt42 load alone: wall-time ratio (goal at most 1.02)
  block to event                from a block reaching the far end of the line to the progress event
                                that counts it reaching an event-stream client: median and worst
                                (goal: median under 100 ms). The far end is this script, on a pty
                                of its own, so one clock times both.
  idle station                  eight ports, no job, 10 s: CPU as a share of one core (goal under
                                0.5 %) and resident memory (goal under 30 MB)

Build first (Release, as scripts/tools.sh does), then: scripts/bench-station.py [--runs N]."""

import argparse
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Serve:
    def __init__(self, krt42, work, ports):
        self.port = free_port()
        self.log = open(work / f"serve-{self.port}.log", "wb")
        self.proc = subprocess.Popen([krt42, "serve", *[w for p in ports for w in ("--port", str(p))], "--listen",
                                      f"127.0.0.1:{self.port}", "--state", str(work / f"state-{self.port}")],
                                     stderr=self.log)
        deadline = time.monotonic() + 20
        while b" at http" not in Path(self.log.name).read_bytes():
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise SystemExit("the station did not start")
            time.sleep(0.05)

    def call(self, method, path, body=None, kind="application/octet-stream"):
        req = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", data=body, method=method,
                                     headers={"Content-Type": kind})
        with urllib.request.urlopen(req, timeout=300) as res:
            return json.loads(res.read())

    def close(self):
        self.proc.terminate()
        self.proc.wait(30)
        self.log.close()


def eight_loads(krt42, work, Simulator, image):
    sims = [Simulator(work / f"l{i}", work / f"l{i}.log", 19200, ["--mode", "loader"]) for i in range(8)]
    try:
        start = time.monotonic()
        subprocess.run([krt42, "load", "--port", str(work / "l0"), "--speed", "19200", str(image)],
                       stderr=subprocess.DEVNULL, check=True)
        one = time.monotonic() - start
        serve = Serve(krt42, work, [work / f"l{i}" for i in range(8)])
        try:
            names = ",".join(f"l{i}" for i in range(8))
            start = time.monotonic()
            jobs = serve.call("POST", f"/api/load?ports={names}&speed=19200&wait=300", image.read_bytes())["jobs"]
            eight = time.monotonic() - start
            exits = sorted({j["exit"] for j in jobs})
        finally:
            serve.close()
        print(f"eight loads through the API: {eight:.2f} s (exits {exits}), one krt42 load alone {one:.2f} s: "
              f"ratio {eight / one:.3f}")
    finally:
        for sim in sims:
            sim.close()


def block_to_event(krt42, work, PtyPeer, image):
    peer = PtyPeer(work / "peer")
    serve = Serve(krt42, work, [work / "peer"])
    arrivals = []  # (time, bytes of the program received so far)
    events = []    # (time, bytes the event counts)
    stop = threading.Event()

    def line():
        total = 0
        while not stop.is_set():
            got = peer.read_available()
            if got:
                total += len(got)
                arrivals.append((time.monotonic(), total - 2))  # "++" comes first
            else:
                time.sleep(0.0005)

    def stream():
        sock = socket.create_connection(("127.0.0.1", serve.port))
        sock.sendall(f"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:{serve.port}\r\n\r\n".encode())
        buffer = b""
        sock.settimeout(0.5)
        while not stop.is_set():
            try:
                chunk = sock.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                break
            now = time.monotonic()
            buffer += chunk
            while b"\n\n" in buffer:
                block, buffer = buffer.split(b"\n\n", 1)
                for text in block.decode("utf-8", "replace").splitlines():
                    if text.startswith("data: {") and '"progress"' in text:
                        data = json.loads(text[6:])
                        events.append((now, data["job"]["progress"]["bytes"]))
        sock.close()

    threads = [threading.Thread(target=line, daemon=True), threading.Thread(target=stream, daemon=True)]
    for t in threads:
        t.start()
    time.sleep(0.5)
    try:
        serve.call("POST", "/api/load?ports=peer&speed=19200&wait=300", image.read_bytes())
    finally:
        time.sleep(0.3)
        stop.set()
        for t in threads:
            t.join(5)
        serve.close()
        peer.close()
    delays = []
    for when, counted in events:
        came = next((t for t, total in arrivals if total >= counted), None)
        if came is not None and counted > 0:
            delays.append((when - came) * 1000)
    if not delays:
        print("block to event: no progress events seen")
        return
    print(f"block to event: {len(delays)} progress events, median {statistics.median(delays):.1f} ms, "
          f"worst {max(delays):.1f} ms")


def idle(krt42, work, Simulator):
    sims = [Simulator(work / f"i{i}", work / f"i{i}.log", 9600) for i in range(8)]
    serve = Serve(krt42, work, [work / f"i{i}" for i in range(8)])
    try:
        tick = os.sysconf("SC_CLK_TCK")

        def cpu():
            fields = Path(f"/proc/{serve.proc.pid}/stat").read_text().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / tick

        time.sleep(1)
        before, start = cpu(), time.monotonic()
        time.sleep(10)
        used, wall = cpu() - before, time.monotonic() - start
        rss = next(int(line.split()[1]) for line in Path(f"/proc/{serve.proc.pid}/status").read_text().splitlines()
                   if line.startswith("VmRSS:"))
        print(f"idle station, eight ports: {used:.2f} s CPU in {wall:.1f} s, {used / wall * 100:.2f} % of a core; "
              f"resident memory {rss / 1024:.1f} MB")
    finally:
        serve.close()
        for sim in sims:
            sim.close()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--krt42", default=str(ROOT / "build" / "tools" / "cli" / "krt42"))
    p.add_argument("--sim", default=str(ROOT / "build" / "tools" / "simulator" / "krt42sim"))
    p.add_argument("--runs", type=int, default=1)
    args = p.parse_args()
    os.environ["KRT_SIM"] = str(Path(args.sim).resolve())
    from krtrig import PtyPeer, Simulator

    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        image = work / "IMAGE.HEX"
        image.write_bytes(bytes(0x30 + i % 64 for i in range(4096)))
        for run in range(1, args.runs + 1):
            print(f"run {run}:")
            eight_loads(args.krt42, work, Simulator, image)
            block_to_event(args.krt42, work, PtyPeer, image)
            idle(args.krt42, work, Simulator)


if __name__ == "__main__":
    main()
