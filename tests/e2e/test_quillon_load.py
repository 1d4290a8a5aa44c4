"""Quillon under Wine against the simulated adapter in loader mode: the first start, a program file
chosen through the real file-open dialog and loaded with its progress, a restart requested by the
adapter in the middle of a load, and closing the window while a load runs."""

import unittest

import krtrig
from faultkit import choose_program, received, start_quillon
from krtrig import (IDC_STATIC, IDOK, QUILLON, QUILLON_CAPTION, QUILLON_RECORD, Rig, SELECTCOM,
                   quillon_settings, read_settings, wait_until, windows_exe)

EXIT_BUTTON, CHOOSE_BUTTON, START_BUTTON, PORT_BUTTON = (IDOK, QUILLON.IDC_CHOOSE_BUTTON, QUILLON.IDC_START_BUTTON,
                                                         QUILLON.IDC_PORT_BUTTON)
PROGRESS, LABEL = QUILLON.IDC_PROGRESS, IDC_STATIC
SPEED_LIST = SELECTCOM.IDC_SELECTCOM_LOADER_SPEED
SETTINGS = "Quillon.i"


def hex_program(size):
    """An Intel HEX text of exactly `size` bytes: it holds no '+', so the start and restart
    sequences stand out in what the adapter receives."""
    lines, address = [], 0
    while sum(len(line) for line in lines) < size:
        data = bytes((address + i * 37) & 0xFF for i in range(16))
        record = bytes([16, address >> 8 & 0xFF, address & 0xFF, 0]) + data
        checksum = -sum(record) & 0xFF
        lines.append(":" + (record + bytes([checksum])).hex().upper() + "\r\n")
        address += 16
    text = "".join(lines).encode("ascii")[:size]
    assert b"+" not in text
    return text


def tooltip(rig, win, control):
    return bytes.fromhex(rig.probe.call("tiptext", format(win.hwnd, "x"), control)).decode("cp1251")


class QuillonFirstStart(unittest.TestCase):
    def test_first_start_opens_no_port_and_enter_closes_writing_defaults(self):
        with Rig("quillon-first") as rig:
            rig.start()
            proc = rig.launch(windows_exe("loader/Quillon.exe"))
            win = rig.wait_window(QUILLON_CAPTION)

            self.assertEqual(win.status_parts(), 2)
            # No settings file: port position 0 of an empty table is port 0, which opens nothing
            # and is no error; the speed is the default 19200 bit/s.
            self.assertEqual(win.wait_status(1, " COM0,8,n,19200b ", 20), " COM0,8,n,19200b ")
            self.assertEqual(win.status(0), "")
            self.assertEqual(win.text(LABEL), "Процесс ...")
            self.assertEqual(win.progress(PROGRESS), 0)
            for button in (EXIT_BUTTON, CHOOSE_BUTTON, START_BUTTON, PORT_BUTTON):
                self.assertTrue(win.enabled(button), f"button {button}")
            self.assertFalse((rig.run_dir / SETTINGS).exists(), "the file is written at exit only")

            # The system menu's About item (command 0x0010) opens the About box over the window.
            rig.probe.call("syscommand", format(win.hwnd, "x"), "0x10")
            about = rig.wait_window("About Quillon", 20)
            self.assertIn("Quillon", about.text(QUILLON.IDC_ABOUT_NAME))
            about.click(1)
            about.wait_gone()
            self.assertTrue(win.exists())

            # Escape is swallowed. The click that follows it in the input queue proves that the
            # key has been handled: start without a chosen file, which the existence test refuses.
            win.key("escape")
            win.mouse(START_BUTTON, "click")
            win.wait_status(0, "Ошибка: отсутствует данный файл.", 20)
            self.assertTrue(win.exists(), "Escape closed the window")
            self.assertIsNone(proc.poll())
            self.assertTrue(win.enabled(CHOOSE_BUTTON), "no load may have started")

            # Enter is not intercepted: it presses the focused button, here the exit button that
            # two tabs bring the focus back to (1002 -> 1003 -> 1).
            win.key("tab")
            win.key("tab")
            win.key("enter")
            win.wait_gone()
            rig.wait_exit(proc)
            size, values = read_settings(rig.run_dir / SETTINGS, QUILLON_RECORD)
            self.assertEqual(size, 76)
            self.assertEqual(values, (0, 6, 0) + (0,) * 16)


class QuillonLoad(unittest.TestCase):
    def test_a_thousand_byte_program_is_sent_whole_with_its_progress(self):
        with Rig("quillon-load") as rig:
            sim, proc, win, capture = start_quillon(rig)
            self.assertEqual(win.wait_status(1, " COM3,8,n,9600b ", 20), " COM3,8,n,9600b ")
            program = hex_program(1000)
            (rig.run_dir / "progs").mkdir()
            (rig.run_dir / "progs" / "KRT42PRG.HEX").write_bytes(program)

            choose_program(rig, win, "KRT42PRG.HEX", folder="progs")
            path = win.status(0)
            self.assertTrue(path.endswith("\\run\\progs\\KRT42PRG.HEX") and path[1:3] == ":\\", path)
            self.assertEqual(received(capture), b"", "choosing a file sends nothing")

            tips = {button: tooltip(rig, win, button) for button in (EXIT_BUTTON, CHOOSE_BUTTON, PORT_BUTTON)}
            self.assertEqual(tips, {EXIT_BUTTON: " Выход ", CHOOSE_BUTTON: " Выбор программы... ",
                                    PORT_BUTTON: " Настройка COM-порта "})
            self.assertEqual(tooltip(rig, win, START_BUTTON), " Загрузка программы в KRT42 ")

            win.click(START_BUTTON)
            wait_until(lambda: len(received(capture)) > 100, 20, "the load to begin")
            self.assertFalse(win.enabled(CHOOSE_BUTTON), "the file choice must be locked during a load")
            self.assertEqual(tooltip(rig, win, START_BUTTON), " Остановить загрузку ")
            self.assertTrue(win.enabled(PORT_BUTTON))
            self.assertTrue(win.enabled(EXIT_BUTTON))

            # 125 blocks, one per 20 ms tick at best: about 2.5 s.
            wait_until(lambda: win.text(PROGRESS) == "Загрузка программы закончена 100%", 60, "the end of the load")
            self.assertEqual(received(capture), b"++" + program)
            self.assertEqual(win.progress(PROGRESS), 100)
            # The label shows the share sent before the last block: 992 of 1000 bytes.
            self.assertEqual(win.text(LABEL), "Процесс ...  99%")
            self.assertEqual(win.status(0), path, "the path stays in pane 0")
            self.assertEqual(win.status(1), " COM3,8,n,9600b ")
            self.assertTrue(win.enabled(CHOOSE_BUTTON))
            self.assertEqual(tooltip(rig, win, START_BUTTON), " Загрузка программы в KRT42 ")
            lines = [line for line in sim.log_lines() if line.startswith("LINE ")]
            self.assertTrue(lines and "speed=9600" in lines[0] and "format=8N1" in lines[0], lines)

            # Start again: the file is read anew and sent from the start after a new start sequence.
            program2 = hex_program(40)[::-1]
            (rig.run_dir / "progs" / "KRT42PRG.HEX").write_bytes(program2)
            win.click(START_BUTTON)
            wait_until(lambda: received(capture) == b"++" + program + b"++" + program2, 30, "the second load")
            wait_until(lambda: win.enabled(CHOOSE_BUTTON), 30, "the second load to end")

            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)
            # The file dialog moved the current directory while it browsed; the settings file
            # stays where the start read it.
            self.assertFalse((rig.run_dir / "progs" / SETTINGS).exists(), "settings written where no start reads them")
            self.assertEqual(read_settings(rig.run_dir / SETTINGS, QUILLON_RECORD), (76, (0, 5, 0, 3) + (0,) * 15))

    def test_an_R_from_the_adapter_restarts_the_load_from_the_first_byte(self):
        with Rig("quillon-restart") as rig:
            # The simulator answers 'R' once it has 400 bytes, holding the line with XOFF so that
            # the loader's next write is still going out when the 'R' arrives.
            sim, proc, win, capture = start_quillon(rig, sim_args=["--ixon", "--r-after", "400"])
            program = hex_program(1000)
            (rig.run_dir / "KRT42PRG.HEX").write_bytes(program)
            choose_program(rig, win, "KRT42PRG.HEX")
            win.click(START_BUTTON)

            win.wait_status(0, " R1 ", 30)
            wait_until(lambda: win.text(PROGRESS) == "Загрузка программы закончена 100%", 60, "the end of the load")
            data = received(capture)
            # "++", the bytes sent before the restart, eight '+', then the whole file once more.
            self.assertTrue(data.startswith(b"++") and data.endswith(b"+" * 8 + program), data[:40])
            before = data[2:len(data) - 8 - len(program)]
            self.assertGreaterEqual(len(before), 400)
            self.assertLess(len(before), len(program))
            self.assertEqual(before, program[:len(before)])
            self.assertEqual(win.status(0), " R1 ")
            self.assertEqual(win.progress(PROGRESS), 100)
            self.assertEqual(win.text(LABEL), "Процесс ...  99%")

            win.close()
            win.wait_gone()
            rig.wait_exit(proc)

    def test_the_load_goes_on_behind_the_port_dialog_and_the_system_menu(self):
        with Rig("quillon-modal") as rig:
            sim, proc, win, capture = start_quillon(rig)
            program = hex_program(3000)
            (rig.run_dir / "BIG.HEX").write_bytes(program)
            choose_program(rig, win, "BIG.HEX")
            win.click(START_BUTTON)
            wait_until(lambda: len(received(capture)) > 100, 30, "the load to be under way")

            win.click(PORT_BUTTON)
            dialog = rig.popup(win, "the port dialog")
            # It opens on the window's choice: 9600 bit/s is position 5 of the speed list.
            self.assertEqual(int(rig.probe.call("cbsel", format(dialog.hwnd, "x"), SPEED_LIST)), 5)
            # The main window's timer and notifications keep the load going while the dialog runs.
            at_open = len(received(capture))
            wait_until(lambda: len(received(capture)) > at_open + 400, 30, "blocks sent behind the dialog")
            self.assertTrue(dialog.exists())
            dialog.click(2)  # leave without a change
            dialog.wait_gone()
            self.assertEqual(win.status(1), " COM3,8,n,9600b ")

            # Alt alone enters the system menu, whose own loop hands the window's notifications
            # straight to the window, past the pre-translation.
            win.key("18")
            at_menu = len(received(capture))
            wait_until(lambda: len(received(capture)) > at_menu + 200, 30, "blocks sent while the menu is open")
            win.key("escape")

            wait_until(lambda: win.text(PROGRESS) == "Загрузка программы закончена 100%", 60, "the end of the load")
            self.assertEqual(received(capture), b"++" + program)
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)

    def test_a_line_that_goes_dead_during_a_load_stops_it_without_a_hang_or_a_crash(self):
        with Rig("quillon-unplug") as rig:
            # The adapter hangs up once 300 bytes of the load are in.
            sim, proc, win, capture = start_quillon(rig, sim_args=["--unplug-after", "300"])
            program = hex_program(1200)
            (rig.run_dir / "BIG.HEX").write_bytes(program)
            choose_program(rig, win, "BIG.HEX")
            win.click(START_BUTTON)

            # Every write now fails; once the driver gives one up the load stops, as on the stop
            # button, and pane 1 tells that the port is not connected.
            win.wait_status(1, " Нет подключения к COM-порту", 60)
            self.assertEqual(win.progress(PROGRESS), 0)
            self.assertEqual(win.text(PROGRESS), "Процесс загрузки 0%")
            self.assertTrue(win.enabled(CHOOSE_BUTTON))
            self.assertEqual(tooltip(rig, win, START_BUTTON), " Загрузка программы в KRT42 ")
            sent = received(capture)
            self.assertGreaterEqual(len(sent), 300)
            self.assertEqual(sent, b"++" + program[:len(sent) - 2], "what did arrive came in order")

            win.click(EXIT_BUTTON)
            win.wait_gone()
            self.assertEqual(rig.wait_exit(proc, 30), 0)
            self.assertEqual(read_settings(rig.run_dir / SETTINGS, QUILLON_RECORD)[0], 76)

    def test_a_file_that_another_program_is_writing_is_not_loaded(self):
        with Rig("quillon-held-file") as rig:
            sim, proc, win, capture = start_quillon(rig)
            program = hex_program(200)
            (rig.run_dir / "HELD.HEX").write_bytes(program)
            choose_program(rig, win, "HELD.HEX")
            # The probe runs in the same folder: an editor that still has the file open for writing.
            rig.probe.call("holdfile", "HELD.HEX".encode("cp1251").hex())
            win.click(START_BUTTON)
            win.wait_status(0, "Ошибка открытия файла.", 10)
            rig.probe.call("releasefile")
            win.click(START_BUTTON)
            wait_until(lambda: win.text(PROGRESS) == "Загрузка программы закончена 100%", 30, "the end of the load")
            # One start sequence only: the refused start sent nothing.
            self.assertEqual(received(capture), b"++" + program)
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)

    def test_closing_the_window_during_a_load_ends_it_silently_and_keeps_the_settings(self):
        with Rig("quillon-close") as rig:
            settings = quillon_settings(1, 5, 0x5A5A1234, [7, 3])
            sim, proc, win, capture = start_quillon(rig, settings=settings)
            program = hex_program(3000)
            (rig.run_dir / "BIG.HEX").write_bytes(program)
            choose_program(rig, win, "BIG.HEX")
            win.click(START_BUTTON)
            wait_until(lambda: win.progress(PROGRESS) >= 10, 30, "the load to be under way")

            win.close()
            win.wait_gone()
            self.assertEqual(rig.wait_exit(proc, 30), 0)
            sent = received(capture)
            # The bar counts bytes handed to the driver; the last of them may be cut by the close.
            self.assertTrue(200 <= len(sent) - 2 < len(program), len(sent))
            self.assertEqual(sent, b"++" + program[:len(sent) - 2])
            size, values = read_settings(rig.run_dir / SETTINGS, QUILLON_RECORD)
            self.assertEqual(size, 76)
            self.assertEqual(values, (1, 5, 0x5A5A1234, 7, 3) + (0,) * 14, "the reserved value is kept as read")


if __name__ == "__main__":
    krtrig.main()
