#!/usr/bin/python3
"""Figures of the station's page in headless Chromium against krt42 serve and eight simulated
adapters in loader mode. Figures, not tests: nothing here fails for a slow machine. Debian's selenium
belongs to /usr/bin/python3.

  first load      every asset of the page from the local station, with an empty cache: bytes (body
                  and on the wire) and milliseconds to the load event, median of --runs (goal
                  under 150 KB and 300 ms), and to the tray shown live
  stream lag      while eight 4000-byte loads run: every 100 ms the page asks GET /api/ports and
                  notes when its own cards (fed by the event stream) first show as many bytes as the
                  station had sent; the worst and the median of that delay (goal: never over 1 s)
  page CPU        the browser's main-thread task time during the same eight loads, as a share of
                  one core (Chrome's Performance.getMetrics), in a second run without the sampler

    scripts/bench-page.py [--krt42 build/native/cli/krt42] [--sim build/native/simulator/krt42sim] [--runs 5]
"""

import argparse
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "station"))

PORTS = 8
PROGRAM = bytes((i * 29 + 3) % 256 for i in range(4000))

# The sampler, put into the page from outside: the page itself is left as it is.
SAMPLER = """
const lag = [], shown = {};
for (const bar of document.querySelectorAll('.card progress')) {
  const name = bar.closest('.card').dataset.port;
  shown[name] = [];
  new MutationObserver(() => shown[name].push([performance.now(), Number(bar.value)]))
    .observe(bar, { attributes: true, attributeFilter: ['value'] });
}
window.krtBench = { lag, shown, asks: [] };
window.krtBench.timer = setInterval(async () => {
  const asked = performance.now();
  const ports = (await (await fetch('/api/ports', { cache: 'no-store' })).json()).ports;
  for (const p of ports) {
    if (p.job && p.job.progress && p.job.progress.bytes > 0) window.krtBench.asks.push([asked, p.name, p.job.progress.bytes]);
  }
}, 100);
"""

# When the page first showed each asked count: the delay from the moment the station was asked.
RESULT = """
clearInterval(window.krtBench.timer);
const { asks, shown } = window.krtBench, delays = [];
for (const [asked, name, bytes] of asks) {
  const seen = shown[name].find(([, b]) => b >= bytes);
  if (seen) delays.push(Math.max(0, seen[0] - asked));
  else delays.push(null);
}
return delays;
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--krt42", default=str(ROOT / "build" / "native" / "cli" / "krt42"))
    parser.add_argument("--sim", default=str(ROOT / "build" / "native" / "simulator" / "krt42sim"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    os.environ["KRT42"], os.environ["KRT_SIM"] = args.krt42, args.sim
    work = Path(tempfile.mkdtemp(prefix="krt42-bench-page-"))
    os.environ.setdefault("KRT_STATION_OUT", str(work / "out"))
    import pagecase as pc
    pc.OUT = Path(os.environ["KRT_STATION_OUT"])
    pc.OUT.mkdir(parents=True, exist_ok=True)

    names = [f"ld{k}" for k in range(PORTS)]
    sims = [pc.Simulator(work / n, work / f"{n}.log", 19200, ["--mode", "loader", "--capture", str(work / f"{n}.bin")])
            for n in names]
    station = pc.Station([work / n for n in names], work / "state", work / "station.log")
    d = pc.browser("bench", lang="ru")
    try:
        first_load(pc, d, station, args.runs)
        d.get(station.url + "/")
        pc.wait_until(lambda: len(d.find_elements(pc.By.CSS_SELECTOR, ".card")) == PORTS
                      and "live" in d.find_element(pc.By.ID, "link").get_attribute("class"), 20, "the tray")
        stream_lag(pc, d, station, names)
        page_cpu(pc, d, station, names)
    finally:
        pc.close(d)
        station.stop()
        for sim in sims:
            sim.close()


def first_load(pc, d, station, runs):
    d.execute_cdp_cmd("Network.enable", {})
    d.execute_cdp_cmd("Network.setCacheDisabled", {"cacheDisabled": True})
    loads, lives, steps, body, wire = [], [], [], 0, 0
    for _ in range(runs):
        d.get("about:blank")
        d.get(station.url + "/")
        pc.wait_until(lambda: d.execute_script("return performance.getEntriesByType('navigation')[0].loadEventEnd > 0"),
                      10, "the load event")
        pc.wait_until(lambda: "live" in d.find_element(pc.By.ID, "link").get_attribute("class"), 10, "live")
        live = d.execute_script("return performance.now()")
        nav, res = d.execute_script("return [performance.getEntriesByType('navigation')[0].toJSON(),"
                                    " performance.getEntriesByType('resource').map(e => e.toJSON())]")
        assets = [nav] + [r for r in res if "/api/" not in r["name"]]
        body = sum(a["decodedBodySize"] for a in assets)
        wire = sum(a["transferSize"] for a in assets)
        loads.append(nav["loadEventEnd"])
        lives.append(live)
        steps.append((nav["responseEnd"], nav["domContentLoadedEventEnd"]))
    print(f"first load: {len(assets)} assets, {body} bytes ({body / 1024:.1f} KiB) of body, {wire} on the wire")
    print(f"  to the load event: median {statistics.median(loads):.0f} ms (of {runs}: "
          f"{', '.join(f'{x:.0f}' for x in loads)})")
    print(f"  the page's own response by {statistics.median(s[0] for s in steps):.0f} ms, its scripts run by "
          f"{statistics.median(s[1] for s in steps):.0f} ms (DOMContentLoaded)")
    print(f"  to the tray shown live: median {statistics.median(lives):.0f} ms")


def start_loads(pc, station, names):
    station.post(f"/api/load?ports={','.join(names)}&name=BENCH.HEX", PROGRAM, "application/octet-stream")
    started = time.monotonic()
    pc.wait_until(lambda: all(p["job"] is None for p in station.get("/api/ports")["ports"]), 120, "the loads", 0.2)
    return time.monotonic() - started


def stream_lag(pc, d, station, names):
    d.execute_script(SAMPLER)
    seconds = start_loads(pc, station, names)
    delays = d.execute_script(RESULT)
    missed = sum(x is None for x in delays)
    known = sorted(x for x in delays if x is not None)
    print(f"stream lag over {len(delays)} samples of {PORTS} loads ({seconds:.1f} s): "
          f"median {statistics.median(known):.0f} ms, 95th {known[int(len(known) * .95)]:.0f} ms, "
          f"worst {known[-1]:.0f} ms, never shown {missed}")


def page_cpu(pc, d, station, names):
    d.get(station.url + "/")
    pc.wait_until(lambda: "live" in d.find_element(pc.By.ID, "link").get_attribute("class"), 10, "live")
    d.execute_cdp_cmd("Performance.enable", {})

    def metrics():
        return {m["name"]: m["value"] for m in d.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
    before, wall0 = metrics(), time.monotonic()
    start_loads(pc, station, names)
    after, wall = metrics(), time.monotonic() - wall0
    share = {k: (after[k] - before[k]) / wall * 100 for k in ("TaskDuration", "ScriptDuration", "LayoutDuration",
                                                              "RecalcStyleDuration")}
    print(f"page CPU during {PORTS} loads ({wall:.1f} s): tasks {share['TaskDuration']:.1f} % of one core "
          f"(script {share['ScriptDuration']:.1f} %, layout {share['LayoutDuration']:.1f} %, "
          f"style {share['RecalcStyleDuration']:.1f} %); JS heap {after['JSHeapUsedSize'] / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
