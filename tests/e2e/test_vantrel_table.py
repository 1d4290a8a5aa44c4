"""Vantrel's parameter table end to end: the real program reads the simulated adapter into its 104
rows, writes an edited value back and marks the row by the reply, under Wine on COM3 (a
pseudo-terminal with the simulator behind it)."""

import struct
import time
import unittest

import krtrig
from faultkit import NO_LINK, crc16_xmodem
from krtrig import IDOK, Rig, VANTREL, handle, vantrel_settings, wait_until, windows_exe

READ_BUTTON, PORT_BUTTON, EXIT_BUTTON = VANTREL.IDC_READ_BUTTON, VANTREL.IDC_PORT_BUTTON, IDOK
PARAM_LIST, VALUE_EDIT = VANTREL.IDC_PARAM_LIST, VANTREL.IDC_VALUE_EDIT
COL_VALUE, COL_UNITS = 2, 3
MARK_ERROR, MARK_BLANK, MARK_PENDING = 0, 2, 3
ROWS = 104
SPEED = 1200  # the first speed of the search: the program connects at once

READING = "Получение параметров ..."
FINISHED = "Получение данных закончено "

# The six requests of a read, before their checksums.
READ_STEPS = [
    "10 01 10 1F 1D 10 02 09 30 09 30 30 33 0C 10 03",
    "10 01 10 1F 1D 10 02 09 30 09 30 30 36 0C 10 03",
    "10 01 10 1F 1D 10 02 09 30 09 30 39 39 0C 10 03",
    "10 01 10 1F 0C 10 02 09 30 09 30 39 39 09 31 09 30 30 31 0C 10 03",
    "10 01 10 1F 0C 10 02 09 30 09 30 39 39 09 32 09 30 30 31 0C 10 03",
    "10 01 10 1F 0C 10 02 09 30 09 30 35 32 09 30 09 30 39 39 0C 10 03",
]


def with_crc(hex_text):
    """The frame as it goes on the wire: the checksum over everything after DLE SOH appended."""
    frame = bytes.fromhex(hex_text)
    crc = crc16_xmodem(frame[2:])
    return (frame + bytes([crc >> 8, crc & 0xFF])).hex(" ").upper()


def expected_rows(sim):
    """Value and unit of every row that the simulator's answers filled, decoded on our own from the
    frames in its log: {row: (value, unit or None)}. Later answers win, as in the table."""
    rows = {}
    for line in sim.log_lines():
        if not line.startswith("TX fn="):
            continue
        frame = bytes.fromhex(line.split("hex=", 1)[1].split(" |", 1)[0])
        code = frame[4]
        data = frame[frame.index(b"\x10\x02") + 2:frame.rindex(b"\x10\x03")]
        items = [item.split(b"\x09")[1:] for item in data.split(b"\x0c")[:-1]]
        head, elements = items[0], items[1:]
        param = int(head[1])
        if code == 0x03:
            row = {3: 0, 6: 1, 99: 2}[param]
            fields = elements[0]
            rows[row] = (fields[0].decode("cp866"), fields[1].decode("cp866") if len(fields) > 1 else None)
        elif code == 0x14:
            base = {52: 5, 99: 2}[param]
            start = int(head[2])
            for j, fields in enumerate(elements):
                unit = fields[1].decode("cp866") if len(fields) > 1 and fields[1] else None
                rows[start + j + base] = (fields[0].decode("cp866"), unit)
    return rows


def settings_for_com3():
    return vantrel_settings(0, SPEED, [3])


class VantrelTable(unittest.TestCase):
    def connect(self, rig, *sim_args):
        link = rig.work / "com3"
        rig.map_com(3, link)
        sim = rig.simulator(link, speed=SPEED, extra=sim_args)
        (rig.run_dir / "Vantrel.i").write_bytes(settings_for_com3())
        rig.start()
        proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
        win = rig.wait_window("Vantrel")
        win.wait_status(1, f"Подключение на COM3 ({SPEED})", 30)
        wait_until(lambda: win.enabled(READ_BUTTON), 10, "the read button after the connection")
        return sim, proc, win

    def received(self, sim):
        return [hex_text for _, hex_text, _ in sim.requests()]

    def read_all(self, win, sim, start):
        """Starts a read with start() and waits for its end; returns the status texts of part 0
        with the time each appeared, and the requests that the read sent."""
        before = len(sim.requests())
        texts = [(win.status(0), time.monotonic())]

        def poll():
            text = win.status(0)
            if texts[-1][0] != text:
                texts.append((text, time.monotonic()))
            return text == " " and any(t == FINISHED for t, _ in texts)

        start()
        wait_until(poll, 60, "the read to finish and its notice to clear", interval=0.02)
        return texts[1:], self.received(sim)[before:]

    def table(self, win):
        return [(win.list_text(PARAM_LIST, r, COL_VALUE), win.list_text(PARAM_LIST, r, COL_UNITS),
                 win.list_image(PARAM_LIST, r)) for r in range(ROWS)]

    def open_editor(self, win, row):
        """Double-clicks `row` with the mouse; returns the editor's handle."""
        left, top, _, bottom = (int(v) for v in win.probe.call("lvrect", format(win.hwnd, "x"), PARAM_LIST,
                                                                row).split())
        # On the parameter number: without full-row selection only column 0 selects its row.
        x, y = left + 40, (top + bottom) // 2

        def editor():
            front = int(win.probe.call("foreground"), 16)
            if front and front != win.hwnd and int(win.probe.call("item", format(front, "x"), VALUE_EDIT), 16):
                return front
            return 0

        # Wine now and then drops a click that comes with the pointer's first move to a new place:
        # the pointer goes there first, and a double-click that opened nothing is made again.
        hwnd = 0
        for _ in range(3):
            win.mouse(PARAM_LIST, "move", x, y)
            time.sleep(0.2)
            win.mouse(PARAM_LIST, "dclick", x, y)
            try:
                hwnd = wait_until(editor, 5, f"the editor of row {row}")
                break
            except AssertionError:
                continue
        self.assertTrue(hwnd, f"no editor for row {row}")
        self.assertEqual(win.list_state(PARAM_LIST, row) & 2, 2, f"row {row} is the selected one")
        return krtrig.Window(win.probe, hwnd, "editor")

    def test_full_read_fills_every_row_from_the_adapter(self):
        with Rig("vantrel-table-read") as rig:
            sim, proc, win = self.connect(rig)
            self.assertEqual(win.list_count(PARAM_LIST), ROWS)
            start = time.monotonic()
            win.mouse(READ_BUTTON, "move")
            time.sleep(0.2)
            texts, requests = self.read_all(win, sim, lambda: win.mouse(READ_BUTTON, "click"))

            self.assertEqual([t for t, _ in texts], [READING, FINISHED, " "])
            shown = texts[2][1] - texts[1][1]
            self.assertGreater(shown, 2.5, "the finished notice stays for 3 s")
            self.assertLess(shown, 4.5, "the finished notice stays for 3 s")
            self.assertLess(texts[1][1] - start, 10, "an adapter that answers everything is read at once")

            # Six requests, one per step, each once, with their checksums.
            self.assertEqual(requests, [with_crc(step) for step in READ_STEPS])
            for step, tail in ((0, "C5 15"), (2, "05 C2"), (3, "B1 83"), (5, "D3 A2")):
                self.assertTrue(requests[step].endswith(tail), f"checksum of step {step}")

            want = expected_rows(sim)
            self.assertEqual(sorted(want), list(range(ROWS)), "the simulator answered every row")
            rows = self.table(win)
            for r, (value, units, image) in enumerate(rows):
                want_value, want_unit = want[r]
                self.assertEqual(value, want_value, f"value of row {r}")
                self.assertEqual(units, want_unit or "", f"units of row {r}")
                self.assertEqual(image, MARK_BLANK, f"mark of row {r}")
            # Cyrillic units travel in the adapter's code page and are shown in the program's.
            self.assertEqual(rows[5][1], "мс")
            self.assertEqual({rows[r][1] for r in range(6, ROWS, 2)}, {"сек"})
            self.assertEqual({rows[r][1] for r in range(7, ROWS, 2)}, {"шт"})
            self.assertEqual(win.list_text(PARAM_LIST, 7, 4), "Задание на запись параметра")

            win.click(EXIT_BUTTON)
            win.wait_gone()
            self.assertEqual(rig.wait_exit(proc), 0, "a clean exit, icon buttons and all")

    def test_edited_row_is_written_marked_pending_then_blank_and_read_back(self):
        with Rig("vantrel-table-write") as rig:
            sim, proc, win = self.connect(rig)
            # A slow reply, so that the Pending mark can be seen before it.
            sim.command("delay 1500")
            before = len(sim.requests())
            editor = self.open_editor(win, 7)
            self.assertEqual(editor.text(VALUE_EDIT), "0000000000")
            # The hidden OK button holds the focus; Tab takes it to the field with its text selected.
            editor.key("tab")
            editor.key(ord("1"))
            editor.key(ord("5"))
            wait_until(lambda: editor.text(VALUE_EDIT) == "15", 10, "the typed value in the editor")
            editor.key("enter")
            editor.wait_gone(10)

            wait_until(lambda: win.list_image(PARAM_LIST, 7) == MARK_PENDING, 5, "row 7 marked Pending")
            self.assertEqual(win.list_text(PARAM_LIST, 7, COL_VALUE), "15")
            wait_until(lambda: len(sim.requests()) > before, 10, "the write request")
            self.assertEqual(self.received(sim)[before:], [
                "10 01 10 1F 14 10 02 09 30 09 30 35 32 09 30 32 09 31 0C 09 31 35 0C 10 03 F4 B7"])
            wait_until(lambda: win.list_image(PARAM_LIST, 7) == MARK_BLANK, 10, "row 7 Blank on the empty reply")
            self.assertEqual(win.list_text(PARAM_LIST, 7, COL_VALUE), "15")
            # The reply is a good frame, but no read was running: no request follows it.
            time.sleep(0.5)
            self.assertEqual(len(sim.requests()), before + 1)

            # The adapter stored the value: a new read brings it back into the row.
            sim.command("delay 0")
            texts, requests = self.read_all(win, sim, lambda: win.key("f5"))
            self.assertEqual(len(requests), 6)
            self.assertEqual(win.list_text(PARAM_LIST, 7, COL_VALUE), "15")
            self.assertEqual(win.list_image(PARAM_LIST, 7), MARK_BLANK)

            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)

    def test_refused_write_shows_the_adapter_text_with_the_error_mark(self):
        with Rig("vantrel-table-refused") as rig:
            sim, proc, win = self.connect(rig)
            sim.command("refuse Запись запрещена")
            value = win.list_text(PARAM_LIST, 0, COL_VALUE)
            before = len(sim.requests())
            # Enter at once accepts the unchanged value: it is sent as it stands, on the plain path.
            editor = self.open_editor(win, 0)
            editor.key("enter")
            editor.wait_gone(10)
            wait_until(lambda: win.list_image(PARAM_LIST, 0) == MARK_ERROR, 10, "row 0 marked Error")
            self.assertEqual(win.list_text(PARAM_LIST, 0, COL_VALUE), "Запись запрещена")
            plain = "10 01 10 1F 03 10 02 09 30 09 30 30 33 0C 09 " + value.encode("cp1251").hex(" ") + " 0C 10 03"
            self.assertEqual(self.received(sim)[before:], [with_crc(plain.upper())])
            # Other rows keep their marks.
            self.assertEqual(win.list_image(PARAM_LIST, 1), MARK_BLANK)
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)

    def test_value_with_a_control_byte_is_marked_error_and_never_sent(self):
        with Rig("vantrel-table-unsendable") as rig:
            sim, proc, win = self.connect(rig)
            before = len(sim.requests())
            rx_before = sim.stats()["rx_bytes"]
            # A tab would cut the value at the adapter, a DLE would break the frame. The editor
            # takes no tab from the keyboard (it moves the focus), so the text is set into it.
            for value in ("1\t99", "5\x10\x03", "\x017"):
                editor = self.open_editor(win, 7)
                editor.set_text(VALUE_EDIT, value)
                self.assertEqual(editor.text(VALUE_EDIT), value)
                editor.key("enter")
                editor.wait_gone(10)
                wait_until(lambda: win.list_image(PARAM_LIST, 7) == MARK_ERROR, 5, f"row 7 Error for {value!r}")
                self.assertEqual(win.list_text(PARAM_LIST, 7, COL_VALUE), value)
            time.sleep(1.0)
            self.assertEqual(len(sim.requests()), before, "no write request for such a value")
            self.assertEqual(sim.stats()["rx_bytes"], rx_before, "not a byte of it reached the adapter")

            # The link is alive all the same: a plain value afterwards goes out and is taken.
            editor = self.open_editor(win, 7)
            editor.set_text(VALUE_EDIT, "15")
            editor.key("enter")
            editor.wait_gone(10)
            wait_until(lambda: len(sim.requests()) > before, 10, "the write request of a plain value")
            self.assertEqual(self.received(sim)[before:], [
                "10 01 10 1F 14 10 02 09 30 09 30 35 32 09 30 32 09 31 0C 09 31 35 0C 10 03 F4 B7"])
            wait_until(lambda: win.list_image(PARAM_LIST, 7) == MARK_BLANK, 10, "row 7 Blank on the empty reply")
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)

    def test_read_keys_during_a_read_change_nothing(self):
        with Rig("vantrel-table-busy") as rig:
            # Each answer comes 400 ms late, so the read lasts long enough to press into it.
            sim, proc, win = self.connect(rig, "--delay", "400")

            def start_and_press_again():
                win.key("f5")
                win.wait_status(0, READING, 10)
                win.key("f5")
                win.click(READ_BUTTON)
                win.key("f5")

            texts, requests = self.read_all(win, sim, start_and_press_again)
            self.assertEqual([t for t, _ in texts], [READING, FINISHED, " "])
            self.assertEqual(requests, [with_crc(step) for step in READ_STEPS],
                             "a second read must not start inside the first")
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)

    def test_press_outside_the_editor_cancels_it_and_sends_nothing(self):
        with Rig("vantrel-table-cancel") as rig:
            sim, proc, win = self.connect(rig)
            before = len(sim.requests())
            for button in ("click", "rclick"):
                editor = self.open_editor(win, 7)
                editor.key("tab")
                editor.key(ord("9"))
                wait_until(lambda: editor.text(VALUE_EDIT) == "9", 10, "the typed value in the editor")
                # The editor holds the mouse: a press beside it, over the main window, reaches it.
                left, top, right, bottom = editor.rect()
                editor.mouse(None, button, right - left + 40, (bottom - top) // 2)
                editor.wait_gone(10)
                self.assertEqual(win.list_text(PARAM_LIST, 7, COL_VALUE), "0000000000", button)
                self.assertEqual(win.list_image(PARAM_LIST, 7), MARK_BLANK, button)
            time.sleep(1.0)
            self.assertEqual(len(sim.requests()), before, "a cancelled edit sends nothing")
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)

    def test_a_read_runs_on_behind_the_open_editor(self):
        with Rig("vantrel-table-behind-editor") as rig:
            sim, proc, win = self.connect(rig)
            # A silent adapter: each step of the read goes on only when the message of its 2 s
            # time-out has been handled, so the read lives on link messages alone.
            sim.command("silent on")
            win.key("f5")
            win.wait_status(0, READING, 10)
            editor = self.open_editor(win, 7)
            sent = len(sim.requests())
            # The editor's loop runs from here on: the read's next request, "no connection" and the
            # end of the read come from messages handled behind it.
            wait_until(lambda: len(sim.requests()) > sent, 10, "a request of the read behind the editor")
            self.assertEqual(win.status(1), NO_LINK)
            win.wait_status(0, FINISHED, 20)
            self.assertTrue(editor.exists(), "the editor stays open through the read")
            editor.cancel()
            editor.wait_gone(10)
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)


if __name__ == "__main__":
    krtrig.main()
