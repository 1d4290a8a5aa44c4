"""What the tests of the station share: simulators on pseudo-terminals, `krt42 serve` on a free
loopback port with a state folder of its own, requests as a client makes them (urllib, nothing
else), and the event stream read as it comes."""

import http.client
import json
import signal
import socket
import subprocess
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "unit" / "cli"))

from krt42case import KRT42, Krt42Case, wait_until  # noqa: E402,F401


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Station:
    """krt42 serve on 127.0.0.1 (or `listen`), its stderr kept in a file."""

    def __init__(self, work, ports, listen=None, extra=()):
        self.port = free_port()
        self.listen = listen or f"127.0.0.1:{self.port}"
        self.state = work / "state"
        self.log = open(work / f"serve-{self.port}.log", "wb")
        args = [KRT42, "serve", *[w for p in ports for w in ("--port", str(p))], "--listen", self.listen,
                "--state", str(self.state), *extra]
        self.proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=self.log)
        self.log_path = Path(self.log.name)
        wait_until(lambda: " at http" in self.stderr() or self.proc.poll() is not None, 20, "the station to listen")
        if self.proc.poll() is not None:
            raise AssertionError(f"the station ended: {self.stderr()}")
        self.host = f"127.0.0.1:{self.port}"

    def stderr(self):
        return self.log_path.read_text(errors="replace")

    def request(self, method, path, body=None, headers=None, host=None):
        """(status, parsed JSON or text, headers) of one request."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=150)
        data = body if isinstance(body, (bytes, type(None))) else json.dumps(body).encode()
        all_headers = {"Host": host or self.host}
        if data is not None and not isinstance(body, bytes):
            all_headers["Content-Type"] = "application/json"
        all_headers.update(headers or {})
        if method == "POST" and data is None:
            data = b""
        conn.request(method, path, body=data, headers=all_headers)
        res = conn.getresponse()
        raw = res.read()
        conn.close()
        kind = res.getheader("Content-Type", "")
        payload = json.loads(raw) if kind.startswith("application/json") and raw else raw.decode("utf-8", "replace")
        return res.status, payload, res

    def job(self, method, path, body=None, wait=60):
        """A job started and waited for: its result."""
        sep = "&" if "?" in path else "?"
        status, answer, _ = self.request(method, f"{path}{sep}wait={wait}", body)
        if status != 200:
            raise AssertionError(f"{method} {path}: {status} {answer}")
        return answer.get("job") or answer.get("jobs") or answer

    def stop(self, sig=signal.SIGTERM, timeout=30):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()
        return self.proc.returncode


class EventStream:
    """GET /api/events read on a thread of its own: every event as (id, type, data)."""

    def __init__(self, station, last_id=None):
        self.events = []
        self.lock = threading.Lock()
        self.sock = socket.create_connection(("127.0.0.1", station.port), timeout=60)
        head = f"GET /api/events HTTP/1.1\r\nHost: {station.host}\r\nAccept: text/event-stream\r\n"
        if last_id is not None:
            head += f"Last-Event-ID: {last_id}\r\n"
        self.sock.sendall((head + "\r\n").encode())
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        buffer = b""
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    return
                buffer += chunk
                # Chunked transfer: the event text is what lies between the chunk sizes; the blank
                # line ends an event, and a chunk's framing never falls inside one event's lines.
                text = buffer.decode("utf-8", "replace")
                while "\n\n" in text:
                    block, text = text.split("\n\n", 1)
                    self._event(block)
                buffer = text.encode()
        except OSError:
            return

    def _event(self, block):
        fields = {}
        for line in block.splitlines():
            if ":" in line and not line.startswith(":"):
                key, value = line.split(":", 1)
                fields[key.strip()] = value.strip()
        if "event" in fields and "data" in fields and "id" in fields:
            with self.lock:
                self.events.append((int(fields["id"]), fields["event"], json.loads(fields["data"])))

    def of(self, kind):
        with self.lock:
            return [e for e in self.events if e[1] == kind]

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


class StationCase(Krt42Case):
    def setUp(self):
        super().setUp()
        self.stations = []
        self.streams = []

    def tearDown(self):
        for stream in self.streams:
            stream.close()
        for station in self.stations:
            station.stop()
        super().tearDown()

    def station(self, ports, **kw):
        s = Station(self.work, ports, **kw)
        self.stations.append(s)
        return s

    def stream(self, station, last_id=None):
        s = EventStream(station, last_id)
        self.streams.append(s)
        return s

    def written(self, sim):
        """The hex of every write request the simulator received, upper case."""
        return [line.split("hex=", 1)[1].split(" |", 1)[0].upper() for line in sim.log_lines()
                if line.startswith("RX") and "| write" in line]

    def history(self, station, **filters):
        query = "&".join(f"{k}={v}" for k, v in filters.items())
        status, answer, _ = station.request("GET", "/api/history?" + query)
        self.assertEqual(status, 200, answer)
        return answer["jobs"]


def program(size):
    return bytes(0x30 + (i * 11) % 64 for i in range(size))

