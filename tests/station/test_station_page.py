"""The station's page in headless Chromium against krt42 serve and three simulated adapters: what the
page shows, and what reached the line. One station runs the whole story in order (find and read,
edits, a file applied, a load to every port, a restart of the station, the page in English and by
keyboard alone, the history of it all), as an operator would go through it."""

import csv
import hashlib
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import pagecase as pc
from pagecase import By, Simulator, wait_until
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.select import Select

SPEEDS = {"com1": 9600, "com2": 19200, "com3": 38400}
NUMBERS = {"com1": "4101", "com2": "4102", "com3": "4103"}
PROGRAM = bytes((i * 37 + 11) % 256 for i in range(3200))
DOCS = Path(__file__).resolve().parents[2] / "docs"


class StationPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        pc.OUT.mkdir(parents=True, exist_ok=True)
        cls.dir = tempfile.TemporaryDirectory()
        cls.work = Path(cls.dir.name)
        cls.sims = {}
        for name in SPEEDS:
            cls.configurator(name)
            # Each adapter its own number, so that the page cannot show one adapter's as another's.
            done = subprocess.run([pc.KRT42, "write", "--port", cls.work / name, "--speed", str(SPEEDS[name]),
                                   "099:01", NUMBERS[name]], capture_output=True, text=True, timeout=30)
            assert done.returncode == 0, done.stderr
        cls.station = pc.Station([cls.work / n for n in SPEEDS], cls.work / "state", pc.OUT / "station.log")
        cls.d = pc.browser("ru", lang="ru")
        cls.d.get(cls.station.url + "/")

    @classmethod
    def tearDownClass(cls):
        pc.close(cls.d)
        cls.station.stop()
        for sim in cls.sims.values():
            sim.close()
        cls.dir.cleanup()

    @classmethod
    def configurator(cls, name):
        cls.swap(name)
        cls.sims[name] = Simulator(cls.work / name, cls.work / f"{name}.log", SPEEDS[name])
        return cls.sims[name]

    @classmethod
    def loader(cls, name, *extra):
        cls.swap(name)
        capture = cls.work / f"{name}.bin"
        cls.sims[name] = Simulator(cls.work / name, cls.work / f"{name}-loader.log", 19200,
                                   ["--mode", "loader", "--capture", str(capture), *extra])
        return capture

    @classmethod
    def swap(cls, name):
        """Another adapter behind the same port: the station opens the port anew for every job."""
        if name in cls.sims:
            cls.sims.pop(name).close()

    def tearDown(self):
        faults = pc.page_faults(self.d)
        self.assertEqual(faults, [], "the page's own errors in the console")

    # -------------------------------------------------------------- helpers

    def wait(self, condition, what, timeout=30, driver=None):
        def check():
            try:
                return condition()
            except Exception:  # an element replaced while it was read: look again
                return False
        try:
            return wait_until(check, timeout, what)
        except AssertionError:
            pc.shot(driver or self.d, f"failed-{self.id().split('.')[-1]}")
            raise

    def css(self, selector, driver=None):
        return (driver or self.d).find_element(By.CSS_SELECTOR, selector)

    def text(self, selector, driver=None):
        return self.css(selector, driver).text

    def card(self, name, part):
        return self.text(f'.card[data-port="{name}"] {part}')

    def value_cell(self, row):
        return self.css(f'#ptable-body tr[data-row="{row}"]')

    def edit(self, row, value):
        """Opens the row's editor with a click, puts the value in and presses Enter."""
        self.css(f'#ptable-body tr[data-row="{row}"] button.value').click()
        editor = self.css("#edit")
        editor.send_keys(Keys.CONTROL, "a")
        editor.send_keys(value, Keys.ENTER)

    def keep_shot(self, name, docs_name):
        """A picture of the page from its top, kept with the output; with KRT_UPDATE_DOCS=1 also
        as the README's picture in docs/."""
        self.d.execute_script("window.scrollTo(0, 0)")
        pc.shot(self.d, name)
        if os.environ.get("KRT_UPDATE_DOCS") == "1":
            shutil.copy(pc.OUT / f"{name}.png", DOCS / docs_name)

    def mark(self, row, driver=None):
        return self.text(f'#ptable-body tr[data-row="{row}"] .mark', driver)

    def history(self, **query):
        path = "/api/history?" + "&".join(f"{k}={v}" for k, v in query.items())
        return self.station.get(path)["jobs"]

    # -------------------------------------------------------------- the story

    def test_1_tray_finds_and_reads_each_adapter_at_its_own_speed(self):
        self.wait(lambda: "live" in self.css("#link").get_attribute("class"), "the page to go live")
        # Everything the page took came from the station itself, all together well under 150 KB.
        fetched = self.d.execute_script("return [performance.getEntriesByType('navigation')[0]]"
                                        ".concat(performance.getEntriesByType('resource'))"
                                        ".map(e => [e.name, e.decodedBodySize])")
        self.assertEqual([n for n, _ in fetched if not n.startswith(self.station.url + "/")], [])
        self.assertLess(sum(size for n, size in fetched if "/api/" not in n), 150 * 1024)
        self.assertEqual([c.get_attribute("data-port") for c in self.d.find_elements(By.CSS_SELECTOR, ".card")],
                         list(SPEEDS))
        self.assertEqual(self.card("com1", ".version"), "не прочитан")
        for name in SPEEDS:
            self.css(f'.card[data-port="{name}"] button:nth-of-type(1)').click()
        # The slowest search is seen under way, then every adapter at the speed it listens at.
        self.wait(lambda: self.card("com3", ".state") == "поиск адаптера", "com3 searching")
        for name, speed in SPEEDS.items():
            self.wait(lambda: self.card(name, ".speed") == f"{speed} бит/с"
                      and "поиск: успешно" in self.card(name, ".last"), f"{name} found")
        for name in SPEEDS:
            self.css(f'.card[data-port="{name}"] button:nth-of-type(2)').click()
        for name in SPEEDS:
            self.wait(lambda: self.card(name, ".number") == NUMBERS[name], f"{name}'s number")
            self.assertEqual(self.card(name, ".version"), "3.05")
            self.assertIn("✓ чтение: успешно", self.card(name, ".last"))
            # The read went straight to the speed the find had found: no frame at another speed.
            frames = self.sims[name].requests()
            read_from = max(i for i, f in enumerate(frames) if f[0] != SPEEDS[name]) + 1
            self.assertTrue(all(f[0] == SPEEDS[name] and f[2] for f in frames[read_from:]))
            self.assertGreaterEqual(len(frames) - read_from, 6)
            self.assertEqual(self.card(name, ".state"), "свободен")

    def test_2_edits_in_place_reach_the_line_or_are_refused(self):
        self.d.get(self.station.url + "/#params/com2")
        self.wait(lambda: self.value_cell(3).find_element(By.CSS_SELECTOR, "button.value").text == NUMBERS["com2"],
                  "com2's table")
        heads = [th.find_element(By.CSS_SELECTOR, ".own").get_attribute("textContent")
                 for th in self.d.find_elements(By.CSS_SELECTOR, "#ptable-head th")]
        self.assertEqual(heads, ["Параметр", "Индекс", "Значение", "Единицы", " Наименование"])
        rows = self.d.find_elements(By.CSS_SELECTOR, "#ptable-body tr")
        self.assertEqual(len(rows), 104)
        first = [[td.get_attribute("textContent") for td in r.find_elements(By.CSS_SELECTOR, "td")[1:]]
                 for r in rows[:7]]
        self.assertEqual(first[0], ["00", "2", "", "Спецификация внешнего оборудования"])
        self.assertEqual(first[5], ["00", "500", "мс", "Периодичность опроса"])
        self.assertEqual(first[6], ["01", "5", "сек", "Задание на чтение параметра"])
        self.assertEqual(rows[103].find_element(By.CSS_SELECTOR, ".param").get_attribute("textContent"), "  052")
        self.assertEqual(self.mark(0), "получено")

        sim = self.sims["com2"]
        self.edit(12, "Тест 5")
        self.wait(lambda: self.mark(12) == "✓ принято", "row 12 accepted")
        self.assertEqual(pc.received_frames(sim)[-1], pc.write_frame(12, "Тест 5"))

        sim.command("refuse Запись запрещена")
        self.edit(7, "9")
        self.wait(lambda: self.mark(7) == "✗ отказ", "row 7 refused")
        self.assertIn("Запись запрещена", self.value_cell(7).text)
        self.assertEqual(pc.received_frames(sim)[-1], pc.write_frame(7, "9"))
        sim.command("refuse off")

        # A tab is refused as it is typed, with the reason, and Enter sends nothing.
        frames, writes = len(pc.received_frames(sim)), len(self.history(kind="write"))
        self.css('#ptable-body tr[data-row="8"] button.value').click()
        editor = self.css("#edit")
        self.d.execute_script("arguments[0].value = '1\\t2'; arguments[0].dispatchEvent(new Event('input'))", editor)
        self.assertEqual(editor.get_attribute("aria-invalid"), "true")
        self.assertIn("символ 2 (U+0009) — управляющий", self.text("#edit-message"))
        editor.send_keys(Keys.ENTER)
        self.assertEqual(self.css("#edit").get_attribute("aria-invalid"), "true")
        editor.send_keys(Keys.ESCAPE)
        self.wait(lambda: not self.d.find_elements(By.ID, "edit"), "the editor to close")
        self.assertEqual(self.mark(8), "получено")
        self.assertEqual(self.value_cell(8).find_element(By.CSS_SELECTOR, "button.value").text, "15")
        self.assertEqual((len(pc.received_frames(sim)), len(self.history(kind="write"))), (frames, writes))
        self.keep_shot("table", "station-table.png")

    def test_3_a_file_is_compared_then_applied_after_its_plan(self):
        # The configuration as a file, as krt42 read -o writes it.
        self.css("#param-save").click()
        saved = self.d.krt_downloads / "com2.json"
        self.wait(lambda: saved.exists() and saved.stat().st_size > 0, "com2.json downloaded")
        config = json.loads(saved.read_text(encoding="utf-8"))
        self.assertEqual(config, self.station.get("/api/ports/com2/configuration"))

        changed = {6: "7", 9: "6", 20: "3"}
        for row in config["rows"]:
            if row["row"] in changed:
                row["value"] = changed[row["row"]]
                del row["bytes"]
        reference = self.work / "reference.json"
        reference.write_text(json.dumps(config, ensure_ascii=False), encoding="utf-8")

        self.css("#diff-file").send_keys(str(reference))
        self.wait(lambda: self.text("#param-status") == "Различаются строк: 3", "the comparison")
        differing = [int(tr.get_attribute("data-row")) for tr in self.d.find_elements(By.CSS_SELECTOR, "tr.mark-differs")]
        self.assertEqual(differing, [6, 9, 20])
        self.assertIn("В файле: 7 · В адаптере: 5", self.value_cell(6).text)
        listed = [[td.text for td in tr.find_elements(By.CSS_SELECTOR, "td")]
                  for tr in self.d.find_elements(By.CSS_SELECTOR, "#plan tbody tr")]
        self.assertEqual(listed, [["6", "052:01", "7", "5"], ["9", "052:04", "6", "4"], ["20", "052:15", "3", "0"]])

        sim = self.sims["com2"]
        before = len(pc.received_frames(sim))
        self.css("#apply-file").send_keys(str(reference))
        self.wait(lambda: self.d.find_elements(By.ID, "apply-confirm"), "the plan")
        planned = [[td.text for td in tr.find_elements(By.CSS_SELECTOR, "td")]
                   for tr in self.d.find_elements(By.CSS_SELECTOR, "#plan tbody tr")]
        self.assertEqual(planned, [["6", "052:01", "5", "7"], ["9", "052:04", "4", "6"], ["20", "052:15", "0", "3"]])
        # The plan read the adapter and wrote nothing.
        sent = pc.received_frames(sim)[before:]
        self.assertTrue(sent and all(" 1D 10 02 " in f or " 0C 10 02 " in f for f in sent), sent)

        before = len(pc.received_frames(sim))
        self.css("#apply-confirm").click()
        self.wait(lambda: self.d.find_elements(By.ID, "apply-verdict"), "the apply's result")
        results = [[td.text for td in tr.find_elements(By.CSS_SELECTOR, "td")]
                   for tr in self.d.find_elements(By.CSS_SELECTOR, "#plan tbody tr")]
        self.assertEqual(results, [["6", "052:01", "5", "7", "записано"], ["9", "052:04", "4", "6", "записано"],
                                   ["20", "052:15", "0", "3", "записано"]])
        self.assertIn("✓ Проверка чтением: сошлась", self.text("#apply-verdict"))
        writes = [f for f in pc.received_frames(sim)[before:] if " 14 10 02 " in f and f.count(" 09 ") == 5]
        self.assertEqual(writes, [pc.write_frame(6, "7"), pc.write_frame(9, "6"), pc.write_frame(20, "3")])
        self.assertEqual([self.mark(r) for r in (6, 9, 20)], ["✓ принято"] * 3)

    def test_4_a_load_to_every_port_shows_each_ones_progress_and_result(self):
        captures = {"com1": self.loader("com1", "--r-after", "400,800"),
                    "com2": self.loader("com2", "--unplug-after", "1200"),
                    "com3": self.loader("com3")}
        self.d.get(self.station.url + "/#tray")
        self.wait(lambda: "live" in self.css("#link").get_attribute("class"), "the page live")

        # Refused before anything is sent: an empty file, and one over the adapter's size (dropped).
        empty = self.work / "EMPTY.HEX"
        empty.write_bytes(b"")
        self.css("#prog-file").send_keys(str(empty))
        self.wait(lambda: self.text("#prog-error") == "EMPTY.HEX пуст: загружать нечего", "the empty file refused")
        self.d.execute_script("""
            const t = new DataTransfer();
            t.items.add(new File([new Uint8Array(32769)], 'BIG.HEX'));
            document.getElementById('drop').dispatchEvent(new DragEvent('drop', {dataTransfer: t, bubbles: true}));""")
        self.wait(lambda: self.text("#prog-error") == "BIG.HEX: 32769 байт; адаптер принимает не более 32768",
                  "the big file refused")
        self.css("#tick-all").click()
        self.css("#load-start").click()
        self.assertIn("не более 32768", self.text("#load-status"))
        self.assertEqual(self.history(kind="load"), [])

        program = self.work / "KRT42.HEX"
        program.write_bytes(PROGRAM)
        self.css("#prog-file").send_keys(str(program))
        self.wait(lambda: self.text("#prog-sha") == hashlib.sha256(PROGRAM).hexdigest(), "the file's SHA-256")
        self.assertEqual((self.text("#prog-name"), self.text("#prog-size"), self.text("#prog-error")),
                         ("KRT42.HEX", "3200 байт", ""))
        self.assertTrue(self.css("#tick-all").is_selected())
        self.css("#load-start").click()

        def bar(name):
            b = self.css(f'.card[data-port="{name}"] progress')
            return float(b.get_attribute("value")), float(b.get_attribute("max"))

        # The bars move while the load runs: seen growing twice, before the end.
        seen = 0.0
        for _ in range(2):
            seen = self.wait(lambda: (lambda v, m: v if seen < v < m else 0)(*bar("com3")), "com3's bar to grow")
        self.wait(lambda: "перезапусков: 1" in self.card("com1", ".progress"), "com1's first restart shown live")
        self.wait(lambda: bar("com3")[0] > 1200, "the load half-way")
        self.keep_shot("tray-mid-load", "station-tray.png")

        for name in SPEEDS:
            self.wait(lambda: "загрузка:" in self.card(name, ".last") and not self.css(f'.card[data-port="{name}"] .job')
                      .is_displayed(), f"{name}'s load to end", timeout=40)
        self.assertEqual(self.card("com1", ".last"), "✓ загрузка: успешно — 3200 из 3200 байт · перезапусков: 2")
        self.assertRegex(self.card("com2", ".last"), r"^⚠ загрузка: обрыв линии — 1[12]\d\d из 3200 байт · перезапусков: 0$")
        self.assertEqual(self.card("com3", ".last"), "✓ загрузка: успешно — 3200 из 3200 байт · перезапусков: 0")
        # What reached the adapters: the whole program after each restart, and once where none came.
        self.assertTrue(captures["com1"].read_bytes().endswith(b"+" * 8 + PROGRAM))
        self.assertEqual(captures["com3"].read_bytes(), b"++" + PROGRAM)
        self.assertEqual(sum(line.startswith("TX R") for line in self.sims["com1"].log_lines()), 2)
        self.assertLess(len(captures["com2"].read_bytes()), len(PROGRAM))

    def test_5_a_restarted_station_is_shown_as_lost_then_read_afresh(self):
        self.assertEqual(self.card("com3", ".version"), "3.05")
        self.station.stop()
        self.wait(lambda: self.css("#banner").is_displayed(), "the lost station shown")
        self.assertEqual(self.text("#banner"), "Нет связи со станцией — переподключение…")
        self.assertEqual(self.card("com3", ".stale-badge"), "данные устарели")
        self.assertFalse(self.css('.card[data-port="com3"] button').is_enabled())
        self.station = type(self).station = pc.Station([self.work / n for n in SPEEDS], self.work / "state",
                                                       pc.OUT / "station.log", port=self.station.port)
        self.wait(lambda: not self.css("#banner").is_displayed(), "the page live again", timeout=20)
        # The new station has read no adapter yet: the tray was read again, nothing old is kept.
        self.assertEqual(self.card("com3", ".version"), "не прочитан")
        self.assertEqual(self.card("com3", ".last"), "заданий ещё не было")
        self.assertTrue(self.css('.card[data-port="com3"] button').is_enabled())
        # Its buttons work again: two searches (loader-mode adapters never answer one), stopped by
        # the card's own button and by the load panel's "stop all".
        for name in ("com1", "com3"):
            self.css(f'.card[data-port="{name}"] button:nth-of-type(1)').click()
            self.wait(lambda: self.card(name, ".state") == "поиск адаптера", f"{name} searching")
        self.css('.card[data-port="com1"] button.stop').click()
        self.wait(lambda: self.card("com1", ".last") == "■ поиск: остановлено", "com1 stopped")
        self.assertEqual(self.card("com3", ".state"), "поиск адаптера")
        self.css("#stop-all").click()
        self.wait(lambda: self.card("com3", ".last") == "■ поиск: остановлено", "com3 stopped")
        self.assertEqual([(j["state"], j["exit"]) for j in self.history(kind="find")[:2]], [("stopped", 130)] * 2)
        # A page left and come back to, again and again, gives its event stream back each time: the
        # browser has six connections to the station, and pages kept for "back" must not hold them.
        for _ in range(8):
            self.d.get("about:blank")
            self.d.get(self.station.url + "/")
            self.wait(lambda: "live" in self.css("#link").get_attribute("class"), "the page live", timeout=10)

    def test_6_in_english_and_by_keyboard_alone(self):
        self.configurator("com1")
        capture = self.loader("com3")
        d = pc.browser("en", lang="en-US")
        try:
            d.get(self.station.url + "/")
            self.wait(lambda: "live" in self.css("#link", d).get_attribute("class"), "the English page", driver=d)
            self.assertEqual(d.find_element(By.TAG_NAME, "html").get_attribute("lang"), "en")
            self.assertEqual([a.text for a in d.find_elements(By.CSS_SELECTOR, "#nav a")],
                             ["Tray", "Parameters", "History"])
            self.assertEqual(self.card_text(d, "com1", ".version"), "not read")

            # The page refuses a value with the station's own words.
            for row, value in ((0, "a\x7fb"), (5, "Ā"), (2, "x" * 5978), (0, "x" * 5983)):
                words = d.execute_script("const p = KRT.valueProblem(arguments[0], arguments[1]);"
                                         "return KRT_TEXTS.en[p[0]](...p.slice(1))", row, value)
                with self.assertRaises(Exception) as refused:
                    self.station.post("/api/ports/com1/write?speed=9600", json.dumps({"row": row, "value": value}).encode())
                self.assertEqual(refused.exception.code, 400)
                self.assertEqual(json.loads(refused.exception.read())["error"], words)
            for size in (0, 32769):
                words = d.execute_script("const p = KRT.programProblem('P.HEX', arguments[0]);"
                                         "return KRT_TEXTS.en[p[0]](...p.slice(1))", size)
                with self.assertRaises(Exception) as refused:
                    self.station.post("/api/load?ports=com1&name=P.HEX", bytes(size), "application/octet-stream")
                self.assertEqual(json.loads(refused.exception.read())["error"], words)
            self.assertIsNone(d.execute_script("return KRT.programProblem('P.HEX', 32768)"))
            self.assertIsNone(d.execute_script("return KRT.valueProblem(0, 'x'.repeat(5982) )"))
            self.assertIsNone(d.execute_script("return KRT.valueProblem(7, 'Ёё№€\\u0098 ~')"))
            for data in (b"", b"abc", bytes(range(256)) * 3, PROGRAM):
                self.assertEqual(d.execute_script("return KRT.sha256js(new Uint8Array(arguments[0]))", list(data)),
                                 hashlib.sha256(data).hexdigest())

            # A load to com3 without the mouse: Tab to each control, Space to tick, Enter to start.
            small = self.work / "SMALL.HEX"
            small.write_bytes(PROGRAM[:400])
            self.tab_to(d, "prog-file")
            d.switch_to.active_element.send_keys(str(small))
            self.wait(lambda: self.text("#prog-sha", d) == hashlib.sha256(PROGRAM[:400]).hexdigest(), "hash", driver=d)
            self.tab_to(d, "tick-com3")
            ActionChains(d).send_keys(Keys.SPACE).perform()
            self.tab_to(d, "load-start")
            self.assertNotEqual(d.execute_script("return getComputedStyle(document.activeElement).outlineStyle"),
                                "none")
            ActionChains(d).send_keys(Keys.ENTER).perform()
            self.wait(lambda: self.card_text(d, "com3", ".last").startswith("✓ load: success — 400 of 400 bytes"),
                      "the keyboard's load", driver=d)
            self.assertEqual(capture.read_bytes(), b"++" + PROGRAM[:400])

            # Parameters of com1: read, walk down to 052:07, edit, Enter.
            self.tab_to(d, lambda: d.switch_to.active_element.text == "Parameters"
                        and d.switch_to.active_element.get_attribute("href").endswith("#params/com1"))
            ActionChains(d).send_keys(Keys.ENTER).perform()
            self.tab_to(d, "param-read")
            ActionChains(d).send_keys(Keys.ENTER).perform()
            self.wait(lambda: self.text("#param-status", d) == "Read finished", "com1 read", driver=d)
            self.tab_to(d, lambda: d.switch_to.active_element.get_attribute("class") == "value")
            ActionChains(d).send_keys(*[Keys.ARROW_DOWN] * 12, Keys.ENTER).perform()
            self.assertEqual(d.switch_to.active_element.get_attribute("aria-label"), "Value 052:07")
            ActionChains(d).send_keys("42", Keys.ENTER).perform()
            self.wait(lambda: self.mark(12, d) == "✓ accepted", "the keyboard's edit", driver=d)
            self.assertEqual(pc.received_frames(self.sims["com1"])[-1], pc.write_frame(12, "42"))
            self.assertEqual(d.switch_to.active_element.text, "42")
            self.assertEqual(self.text("#ptable-head th:nth-child(5)", d), " Наименование\nName")

            # A 10-inch tablet: nothing wider than the screen.
            d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                              {"width": 768, "height": 1024, "deviceScaleFactor": 1, "mobile": False})
            for view in ("#params/com1", "#history", "#tray"):
                d.get(self.station.url + "/" + view)
                self.wait(lambda: "live" in self.css("#link", d).get_attribute("class"), "live", driver=d)
                self.assertLessEqual(d.execute_script("return document.documentElement.scrollWidth"), 768, view)
            pc.shot(d, "tablet-tray")
        finally:
            faults = pc.page_faults(d)
            pc.close(d)
        self.assertEqual(faults, [])

    def test_7_history_lists_every_job_and_downloads_as_csv(self):
        self.d.get(self.station.url + "/#history")
        jobs = self.history()
        kinds = [j["kind"] for j in jobs]
        # 3 finds and 2 stopped; 3 reads, one before the save and one by keyboard; 2 writes and one by
        # keyboard; a diff; a plan and an apply; 3 loads and one by keyboard.
        for kind, count in (("find", 5), ("read", 5), ("write", 3), ("diff", 1), ("apply", 2), ("load", 4)):
            self.assertEqual(kinds.count(kind), count, kind)
        self.wait(lambda: len(self.d.find_elements(By.CSS_SELECTOR, "#htable-body tr")) == len(jobs), "the history")
        top = [td.text for td in self.d.find_elements(By.CSS_SELECTOR, "#htable-body tr:first-child td")]
        self.assertEqual(top[1:5], ["com1", "запись", "", ""])
        self.assertIn("✓ успешно", top[5])
        rows = {r.get_attribute("data-id"): r.text for r in self.d.find_elements(By.CSS_SELECTOR, "#htable-body tr")}
        write_refused = next(j for j in jobs if j["kind"] == "write" and j["exit"] == 4)
        self.assertIn("отказ адаптера — refused: Запись запрещена", rows[str(write_refused["id"])])
        cut = next(j for j in jobs if j["kind"] == "load" and j["exit"] == 1)
        self.assertIn("обрыв линии", rows[str(cut["id"])])
        self.assertIn("KRT42.HEX", rows[str(cut["id"])])

        Select(self.css("#hist-kind")).select_by_value("load")
        Select(self.css("#hist-port")).select_by_value("com1")
        self.wait(lambda: [r.get_attribute("data-id") for r in self.d.find_elements(By.CSS_SELECTOR, "#htable-body tr")]
                  == [str(j["id"]) for j in self.history(kind="load", port="com1")], "the filtered history")
        self.assertEqual(len(self.d.find_elements(By.CSS_SELECTOR, "#htable-body tr")), 1)

        Select(self.css("#hist-kind")).select_by_value("")
        Select(self.css("#hist-port")).select_by_value("")
        self.wait(lambda: self.css("#hist-csv").get_attribute("href").endswith("/api/history?format=csv"), "csv link")
        self.css("#hist-csv").click()
        saved = self.d.krt_downloads / "krt42-history.csv"
        self.wait(lambda: saved.exists() and saved.read_text(encoding="utf-8").count("\n") > len(jobs), "the CSV")
        table = list(csv.DictReader(io.StringIO(saved.read_text(encoding="utf-8"))))
        self.assertEqual([int(r["id"]) for r in table], [j["id"] for j in jobs])
        self.assertEqual([r["kind"] for r in table], kinds)

    # -------------------------------------------------------------- keyboard helpers

    def card_text(self, d, name, part):
        return d.find_element(By.CSS_SELECTOR, f'.card[data-port="{name}"] {part}').text

    def tab_to(self, d, target, presses=80):
        """Presses Tab until the element (an id, or a test of the focused one) has the focus."""
        test = target if callable(target) else lambda: d.switch_to.active_element.get_attribute("id") == target
        for _ in range(presses):
            if test():
                return
            ActionChains(d).send_keys(Keys.TAB).perform()
        pc.shot(d, "failed-tab")
        self.fail(f"Tab never reached {target}")


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2, failfast=True).result
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 and not result.skipped else 1)
