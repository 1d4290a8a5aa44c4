"""What the station page's browser tests share: krt42 serve on a free port against simulated adapters,
headless Chromium driven by selenium (Debian's, run by /usr/bin/python3), and the output a failure
is read from (screenshots, the browser's console) kept in the build tree."""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

TESTS = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(TESTS))

from krtrig import Simulator, crc16_xmodem, wait_until  # noqa: E402,F401

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402,F401

KRT42 = os.environ.get("KRT42") or str(TESTS.parent / "build" / "native" / "cli" / "krt42")
OUT = Path(os.environ.get("KRT_STATION_OUT") or Path.cwd() / "station-output")
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Station:
    """krt42 serve over the given port paths, its state in `state`, on a free loopback port."""

    def __init__(self, ports, state, log, port=None):
        self.port = port or free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        args = [KRT42, "serve", "--listen", f"127.0.0.1:{self.port}", "--state", str(state)]
        for p in ports:
            args += ["--port", str(p)]
        self.log = open(log, "ab")
        self.proc = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        wait_until(self._answers, 20, "the station to listen")

    def _answers(self):
        if self.proc.poll() is not None:
            raise AssertionError(f"krt42 serve ended with {self.proc.returncode}")
        try:
            self.get("/api/ports")
            return True
        except OSError:
            return False

    def get(self, path, raw=False):
        with urllib.request.urlopen(self.url + path, timeout=30) as res:
            data = res.read()
        return data if raw else json.loads(data)

    def post(self, path, body=b"", kind="application/json"):
        req = urllib.request.Request(self.url + path, data=body, method="POST", headers={"Content-Type": kind})
        with urllib.request.urlopen(req, timeout=130) as res:
            return json.loads(res.read())

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def browser(name, lang=None, size=(1280, 800)):
    """Headless Chromium with its own empty profile; downloads go to OUT/name-downloads."""
    profile = tempfile.mkdtemp(prefix="krt42-chromium-")
    downloads = OUT / f"{name}-downloads"
    shutil.rmtree(downloads, ignore_errors=True)
    downloads.mkdir(parents=True)
    options = webdriver.ChromeOptions()
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", f"--user-data-dir={profile}", f"--window-size={size[0]},{size[1]}"):
        options.add_argument(arg)
    prefs = {"download.default_directory": str(downloads), "download.prompt_for_download": False}
    if lang:
        options.add_argument(f"--lang={lang}")
        prefs["intl.accept_languages"] = lang
    options.add_experimental_option("prefs", prefs)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    # The page's own viewport at exactly the size asked for, whatever the window around it takes.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": size[0], "height": size[1], "deviceScaleFactor": 1, "mobile": False})
    driver.krt_profile = profile
    driver.krt_downloads = downloads
    driver.krt_name = name
    driver.krt_console = []
    return driver


def console(driver):
    """The browser's console since the last call, kept on the driver and written to OUT."""
    entries = driver.get_log("browser")
    driver.krt_console += entries
    with open(OUT / f"{driver.krt_name}-console.log", "w", encoding="utf-8") as f:
        for e in driver.krt_console:
            f.write(f"{e['timestamp']} {e['level']} {e['message']}\n")
    return entries


def page_faults(driver):
    """Console entries that are the page's own faults: a script error or a policy violation. The
    refusals the tests provoke (HTTP 4xx) and the lost station are not among them."""
    console(driver)
    return [e["message"] for e in driver.krt_console
            if "Uncaught" in e["message"] or "Content Security Policy" in e["message"]
            or "Refused to" in e["message"]]


def close(driver):
    try:
        console(driver)
    finally:
        driver.quit()
        shutil.rmtree(driver.krt_profile, ignore_errors=True)


def shot(driver, name):
    path = OUT / f"{name}.png"
    driver.save_screenshot(str(path))
    return path


def write_frame(row, value):
    """The configurator's write request of a table row, as the simulator logs it (hex, upper case)."""
    if row <= 1:
        head = b"\x10\x01\x10\x1f\x03\x10\x02\t0\t" + (b"003" if row == 0 else b"006") + b"\x0c"
    else:
        param, element = (b"099", row - 2) if row <= 4 else (b"052", row - 5)
        head = b"\x10\x01\x10\x1f\x14\x10\x02\t0\t" + param + b"\t" + b"%02d" % element + b"\t1\x0c"
    frame = head + b"\t" + value.encode("cp1251") + b"\x0c\x10\x03"
    crc = crc16_xmodem(frame[2:])
    return (frame + bytes([crc >> 8, crc & 0xFF])).hex(" ").upper()


def received_frames(sim):
    """The hex of every frame the simulator received, in order."""
    return [hex_text for _, hex_text, _ in sim.requests()]
