"""The station's API against simulated adapters: the same frames on the line as krt42 sends, plans
and results as krt42 gives them, loads to several ports with live progress, refusals that send
nothing, who may talk to it, and a job history that survives a stop and a kill."""

import hashlib
import json
import signal
import subprocess
import time
import unittest

from stationcase import KRT42, Station, StationCase, free_port, program, wait_until


class Api(StationCase):
    def test_read_write_and_diff_put_krt42s_frames_on_the_line(self):
        sim, path = self.sim(speed=9600)
        station = self.station([path])
        status, ports, _ = station.request("GET", "/api/ports")
        self.assertEqual(status, 200)
        self.assertEqual([(p["name"], p["state"], p["job"]) for p in ports["ports"]], [("com", "idle", None)])

        job = station.job("POST", "/api/ports/com/find")
        self.assertEqual((job["exit"], job["outcome"], job["speed"]), (0, "success", 9600))
        job = station.job("POST", "/api/ports/com/read?speed=9600")
        self.assertEqual((job["state"], job["exit"]), ("done", 0))
        rows = job["configuration"]["rows"]
        self.assertEqual((len(rows), rows[3]["value"], rows[12]["bytes"]), (104, "1207", "30"))
        status, port, _ = station.request("GET", "/api/ports/com")
        self.assertEqual(port["adapter"], {"version": "3.05", "number": "1207", "board": "42"})
        # The document of the last read is krt42's own.
        status, document, _ = station.request("GET", "/api/ports/com/configuration")
        self.assertEqual((status, document["format"], document["rows"]), (200, 2, rows))

        job = station.job("POST", "/api/ports/com/write?speed=9600", {"row": "052:07", "value": "15"})
        self.assertEqual((job["exit"], job["write"]["sent"]), (0, True))
        # The request is the configurator's own for that row, as krt42 write sends it.
        self.assertIn("10 02 09 30 09 30 35 32 09 30 37 09 31 0C 09 31 35 0C 10 03", self.written(sim)[-1])

        document["rows"][12]["value"] = "0"
        job = station.job("POST", "/api/ports/com/diff?speed=9600", document)
        self.assertEqual((job["exit"], job["text"]), (1, "1 rows differ"))
        self.assertEqual([(d["row"], d["file"], d["adapter"]) for d in job["differences"]], [(12, "0", "15")])
        self.assertEqual(len(self.written(sim)), 1)  # a diff writes nothing

    def test_an_apply_plans_and_ends_as_krt42_apply_does(self):
        sim, path = self.sim("--ignore-write", "052:20", speed=9600)
        station = self.station([path])
        document = station.job("POST", "/api/ports/com/read?speed=9600")["configuration"]
        document["rows"][25]["value"] = "9"       # 052:20: never answered
        document["rows"][12]["value"] = "15"      # 052:07: accepted
        document["rows"][7]["value"] = "x" * 50   # 052:02: refused by the adapter
        target = self.work / "target.json"
        target.write_text(json.dumps(document, ensure_ascii=False))

        plan = station.job("POST", "/api/ports/com/apply?speed=9600&dry_run=1", document)
        self.assertEqual((plan["exit"], plan["dryRun"]), (0, True))
        self.assertEqual([(r["row"], r["result"]) for r in plan["rows"]], [(7, "planned"), (12, "planned"), (25, "planned")])
        self.assertEqual(self.written(sim), [])
        dry = self.run_krt42("apply", "--port", path, "--speed", 9600, "--dry-run", target)
        self.assertEqual(plan["summary"], dry.stdout.splitlines()[-1])

        job = station.job("POST", "/api/ports/com/apply?speed=9600", document)
        self.assertEqual((job["exit"], job["outcome"]), (5, "no-answer"))
        self.assertEqual([(r["row"], r["result"], r["refusal"]) for r in job["rows"]],
                         [(7, "refused", "Недопустимое значение"), (12, "written", ""), (25, "unanswered", "")])
        self.assertEqual(job["summary"], "apply: 3 rows differ; 1 written, 1 refused, 1 unanswered; read-back agrees")
        # krt42's own apply of the same file now finds the same two rows left and says the same.
        again = self.run_krt42("apply", "--port", path, "--speed", 9600, target)
        self.assertEqual(again.returncode, 5)
        self.assertEqual(again.stdout.splitlines()[-1],
                         "apply: 2 rows differ; 0 written, 1 refused, 1 unanswered; nothing to read back")
        records = self.history(station, kind="apply")
        self.assertEqual([r["state"] for r in records], ["failed", "done"])
        self.assertEqual([(r["row"], r["after"], r["result"]) for r in records[0]["rows"]],
                         [(7, "x" * 50, "refused: Недопустимое значение"), (12, "15", "written"), (25, "9", "unanswered")])

    def test_a_load_to_three_ports_with_live_progress_and_a_result_each(self):
        image = program(2400)
        paths, captures = [], []
        for name, extra in (("ok", []), ("again", ["--r-after", 600]), ("dies", ["--unplug-after", 800])):
            captures.append(self.work / f"{name}.bin")
            paths.append(self.sim("--mode", "loader", "--capture", captures[-1], *extra, name=name, speed=19200)[1])
        station = self.station(paths)
        events = self.stream(station)
        status, answer, _ = station.request("POST", "/api/load?ports=ok,again,dies&speed=19200&name=P.HEX", image,
                                            {"Content-Type": "application/octet-stream"})
        self.assertEqual(status, 202, answer)
        ids = {j["port"]: j["id"] for j in answer["jobs"]}
        for port, id in ids.items():
            station.request("GET", f"/api/jobs/{id}?wait=60")
        wait_until(lambda: len([e for e in events.of("job") if e[2].get("state") != "running"]) == 3, 10,
                   "the three results on the stream")
        results = {e[2]["port"]: e[2] for e in events.of("job") if e[2].get("state") != "running"}
        self.assertEqual((results["ok"]["exit"], results["ok"]["load"]["sent"]), (0, 2400))
        self.assertEqual((results["again"]["exit"], results["again"]["load"]["restarts"]), (0, 1))
        self.assertEqual((results["dies"]["exit"], results["dies"]["outcome"]), (1, "line-failed"))
        self.assertRegex(results["dies"]["text"], r"^the line failed after \d+ of 2400 bytes$")
        self.assertEqual(captures[0].read_bytes(), b"++" + image)
        self.assertTrue(captures[1].read_bytes().endswith(b"+" * 8 + image))
        # Progress came at least five times a second, and never went back but for the restart.
        for port in ids:
            seen = [e[2]["job"]["progress"] for e in events.of("port")
                    if e[2]["name"] == port and e[2]["job"] and "progress" in e[2]["job"]]
            self.assertGreater(len(seen), 5 * 2400 // 8 * 0.02 * 0.5, port)
            for before, after in zip(seen, seen[1:]):
                if after["restarts"] == before["restarts"]:
                    self.assertGreaterEqual(after["bytes"], before["bytes"], port)
        # The stream's ids only grow, and a client that comes back with Last-Event-ID misses no result.
        all_ids = [e[0] for e in events.events]
        self.assertEqual(all_ids, sorted(all_ids))
        first_result = min(e[0] for e in events.of("job") if e[2].get("state") != "running")
        late = self.stream(station, last_id=first_result - 1)
        wait_until(lambda: len([e for e in late.of("job") if e[2].get("state") != "running"]) == 3, 10, "the replay")
        load = self.history(station, kind="load")
        self.assertEqual(sorted((r["state"], r["file"], r["size"], r["bytes_sent"]) for r in load),
                         [("done", "P.HEX", 2400, 2400), ("done", "P.HEX", 2400, 2400),
                          ("failed", "P.HEX", 2400, load[[r["state"] for r in load].index("failed")]["bytes_sent"])])
        self.assertEqual({r["sha256"] for r in load}, {hashlib.sha256(image).hexdigest()})

    def test_refusals_send_nothing(self):
        sim, path = self.sim(speed=9600)
        loader, other = self.sim("--mode", "loader", "--capture", self.work / "cap.bin", name="ldr", speed=19200)
        station = self.station([path, other])
        cases = [
            ("POST", "/api/ports/com/write?speed=9600", {"row": "052:07", "value": "1\t2"}, 400, "character 2"),
            ("POST", "/api/ports/com/write?speed=9600", {"row": "052:07", "value": "7✓"}, 400, "Windows-1251"),
            ("POST", "/api/ports/com/write?speed=9600", {"row": "104", "value": "1"}, 400, "unknown row"),
            ("POST", "/api/ports/com/write?speed=1234", {"row": "1", "value": "1"}, 400, "bad speed"),
            ("POST", "/api/ports/com/apply?rows=", {"format": 2, "rows": []}, 400, "rows needs a list"),
            ("POST", "/api/ports/com/diff", b'{"format": 2, "rows": [', 400, "line 1"),
            ("POST", "/api/load?ports=ldr", b"", 400, "is empty: there is nothing to load"),
            ("POST", "/api/load?ports=ldr&name=BIG.HEX", program(40000), 413,
             "BIG.HEX has 40000 bytes; the adapter takes at most 32768"),
            ("POST", "/api/ports/ttyS0/read", None, 404, "no port ttyS0 in the tray"),
            ("POST", "/api/load?ports=com,nowhere", program(8), 404, "no port nowhere in the tray"),
            ("GET", "/api/ports/..%2F..%2Fetc%2Fpasswd/configuration", None, 404, ""),
            ("GET", "/api/ports/%2Fdev%2FttyS0", None, 404, ""),
        ]
        for method, address, body, want, words in cases:
            status, answer, _ = station.request(method, address, body)
            self.assertEqual(status, want, (address, answer))
            self.assertIn(words, answer["error"], address)
        self.assertEqual(sim.stats()["rx_bytes"], 0)
        self.assertEqual(loader.stats()["rx_bytes"], 0)

    def test_a_busy_port_is_409_naming_the_running_job(self):
        _, path = self.sim("--mode", "loader", speed=19200)
        station = self.station([path])
        status, answer, _ = station.request("POST", "/api/load?ports=com", program(4000),
                                            {"Content-Type": "application/octet-stream"})
        self.assertEqual(status, 202)
        running = answer["jobs"][0]["id"]
        status, answer, _ = station.request("POST", "/api/ports/com/read")
        self.assertEqual(status, 409, answer)
        self.assertEqual(answer["job"]["id"], running)
        self.assertIn(f"com is busy with load (job {running})", answer["error"])
        status, answer, _ = station.request("POST", "/api/ports/com/stop")
        self.assertEqual((status, answer["stopped"]), (200, running))
        job = station.job("GET", f"/api/jobs/{running}")
        self.assertEqual((job["state"], job["exit"], job["outcome"]), ("stopped", 130, "stopped"))

    def test_who_may_talk_to_it(self):
        _, path = self.sim(speed=9600)
        station = self.station([path])
        self.assertEqual(station.request("GET", "/api/ports")[0], 200)
        self.assertEqual(station.request("GET", "/api/ports", host=f"localhost:{station.port}")[0], 200)
        # A name rebound to 127.0.0.1 by some web page, and a form of another site.
        self.assertEqual(station.request("GET", "/api/ports", host=f"evil.example:{station.port}")[0], 403)
        status, answer, _ = station.request("POST", "/api/ports/com/find", headers={"Origin": "http://evil.example"})
        self.assertEqual((status, answer["error"]), (403, "a request from another site is refused"))
        self.assertEqual(station.request("POST", "/api/ports/com/stop",
                                         headers={"Origin": f"http://127.0.0.1:{station.port}"})[0], 200)

        # Beyond loopback every request carries the token; the address with it leaves a cookie.
        wide = Station(self.work, [path], listen=f"0.0.0.0:{free_port()}")
        self.stations.append(wide)
        token_file = wide.state / "token"
        self.assertEqual(oct(token_file.stat().st_mode & 0o777), "0o600")
        token = token_file.read_text().strip()
        self.assertIn(f"?token={token}", wide.stderr())
        wide.port = int(wide.listen.rsplit(":", 1)[1])
        wide.host = f"127.0.0.1:{wide.port}"
        self.assertEqual(wide.request("GET", "/api/ports")[0], 401)
        self.assertEqual(wide.request("GET", "/api/ports", headers={"Authorization": "Bearer " + "0" * 64})[0], 401)
        self.assertEqual(wide.request("GET", "/api/ports", headers={"Authorization": "Bearer " + token})[0], 200)
        status, _, res = wide.request("GET", "/?token=" + token)
        self.assertEqual(status, 303)
        cookie = res.getheader("Set-Cookie")
        self.assertIn("HttpOnly", cookie)
        self.assertEqual(wide.request("GET", "/api/ports", headers={"Cookie": cookie.split(";")[0]})[0], 200)
        # The token is printed once, when it is made; a second start reads it and says where it is.
        wide.stop()
        again = self.station([path], listen=wide.listen)
        self.assertNotIn(token, again.stderr())
        self.assertEqual(token_file.read_text().strip(), token)

    def test_a_stop_and_a_kill_leave_the_history_true(self):
        paths = [self.sim("--mode", "loader", name=n, speed=19200)[1] for n in ("a", "b")]
        station = self.station(paths)
        status, answer, _ = station.request("POST", "/api/load?ports=a,b", program(8000),
                                            {"Content-Type": "application/octet-stream"})
        self.assertEqual(status, 202)
        wait_until(lambda: all((station.request("GET", f"/api/ports/{p}")[1]["job"] or {}).get("progress", {}).get("bytes", 0) > 200
                               for p in ("a", "b")), 20, "both loads to run")
        started = time.monotonic()
        self.assertEqual(station.stop(signal.SIGTERM), 0)
        self.assertLess(time.monotonic() - started, 10)
        self.assertIn("stopping", station.stderr())
        # Every port was given back: krt42 can open them at once.
        small = self.work / "small.hex"
        small.write_bytes(program(16))
        for path in paths:
            done = self.run_krt42("load", "--port", path, "--speed", 19200, small)
            self.assertEqual(done.returncode, 0, done.stderr)

        station = self.station(paths)
        records = self.history(station, kind="load")
        self.assertEqual([r["state"] for r in records], ["stopped", "stopped"])
        self.assertEqual({r["exit"] for r in records}, {130})

        status, answer, _ = station.request("POST", "/api/load?ports=a", program(8000),
                                            {"Content-Type": "application/octet-stream"})
        self.assertEqual(status, 202)
        wait_until(lambda: (station.request("GET", "/api/ports/a")[1]["job"] or {}).get("progress", {}).get("bytes", 0) > 200,
                   20, "the load to run")
        station.proc.kill()  # a power cut
        station.proc.wait()
        station = self.station(paths)
        self.assertIn("1 jobs of an earlier run were interrupted", station.stderr())
        records = self.history(station, kind="load")
        self.assertEqual(records[0]["state"], "interrupted")
        self.assertIsNone(records[0]["exit"])
        # krt42 --history records into the same file; krt42 history shows them all.
        station.stop()
        done = self.run_krt42("find", "--port", paths[0], "--history", station.state / "history.sqlite")
        self.assertEqual(done.returncode, 3)
        shown = subprocess.run([KRT42, "history", "--state", str(station.state), "--format", "csv"],
                               capture_output=True, text=True)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        lines = shown.stdout.splitlines()
        self.assertEqual(len(lines), 1 + 4)  # two stopped, one interrupted, the find
        self.assertIn(",find,failed,3,no adapter on", lines[1])
        self.assertIn(",krt42,", lines[1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
