"""Vantrel's main window as a user meets it: the first start without a settings file, the keys
that must not close it, and the settings file that every exit writes."""

import struct
import unittest

import krtrig
from krtrig import IDOK, Rig, VANTREL, VANTREL_RECORD, read_settings, vantrel_settings, windows_exe

READ_BUTTON, PORT_BUTTON, EXIT_BUTTON = VANTREL.IDC_READ_BUTTON, VANTREL.IDC_PORT_BUTTON, IDOK
PARAM_LIST = VANTREL.IDC_PARAM_LIST


class VantrelFirstStart(unittest.TestCase):
    def test_without_settings_only_the_port_button_works_and_exit_writes_defaults(self):
        with Rig("vantrel-first") as rig:
            rig.start()
            exe = windows_exe("configurator/Vantrel.exe")
            proc = rig.launch(exe)
            win = rig.wait_window("Vantrel")

            self.assertEqual(win.status_parts(), 2)
            self.assertEqual(win.wait_status(1, "Порт не выбран", 20), "Порт не выбран")
            self.assertTrue(win.enabled(PORT_BUTTON))
            self.assertFalse(win.enabled(READ_BUTTON))
            self.assertTrue(win.enabled(EXIT_BUTTON))
            self.assertEqual(win.list_count(PARAM_LIST), 104)
            self.assertFalse((rig.run_dir / "Vantrel.i").exists(), "the file is written at exit only")

            # Escape and Enter are swallowed; F5, sent the same way after them, proves that the keys
            # reached the window: it starts a read even with the read button disabled.
            win.key("escape")
            win.key("enter")
            win.key("f5")
            win.wait_status(0, "Получение параметров ...", 20)
            self.assertTrue(win.exists(), "Escape or Enter closed the window")
            self.assertTrue(win.visible(None), "Escape or Enter hid the window")
            self.assertIsNone(proc.poll())

            # The close box ends the program like the exit button.
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)
            size, values = read_settings(rig.run_dir / "Vantrel.i", VANTREL_RECORD)
            self.assertEqual(size, 264)
            self.assertEqual(values, (-1, 4800) + (0,) * 64)

    def test_exit_button_rewrites_a_settings_file_naming_a_missing_port(self):
        with Rig("vantrel-missing-port") as rig:
            # COM7 is not mapped: the search runs its course with "no connection" and no answer.
            table = (7, 12) + (0,) * 62
            (rig.run_dir / "Vantrel.i").write_bytes(vantrel_settings(1, 1200, table) + b"tail")
            rig.start()
            proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
            win = rig.wait_window("Vantrel")
            seen = []
            win.wait_status(1, "Поиск на скорости 2400", 30, seen)
            self.assertIn("Поиск на скорости 1200", seen)
            self.assertFalse(win.enabled(READ_BUTTON))
            self.assertFalse(win.enabled(PORT_BUTTON))
            self.assertTrue(win.exists())

            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)
            size, values = read_settings(rig.run_dir / "Vantrel.i", VANTREL_RECORD)
            self.assertEqual(size, 264, "the old file's extra bytes must go")
            self.assertEqual(values, (1, 2400) + table, "LineSpeed is the speed of the last open")


if __name__ == "__main__":
    krtrig.main()
