"""Vantrel's port dialog under Wine: the ports of both registry lists in the sorted port list, the
choice applied to the driver and the search it restarts, the speed the search found, and the main
window's link running on behind the open dialog."""

import struct
import time
import unittest

import krtrig
from faultkit import Combo
from krtrig import (IDOK, Rig, SELECTCOM, VANTREL, VANTREL_RECORD, read_settings, vantrel_settings,
                   wait_until, windows_exe)

PORT_BUTTON, EXIT_BUTTON = VANTREL.IDC_PORT_BUTTON, IDOK
OK, PORT_LIST, SPEED_LIST, APPLY = (IDOK, SELECTCOM.IDC_SELECTCOM_PORT, SELECTCOM.IDC_SELECTCOM_SPEED,
                                   SELECTCOM.IDC_SELECTCOM_APPLY)
DIALOG_CAPTION = "Выбор порта"
SPEEDS = ["300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"]
# COM1 (the simulator), COM2 and COM10 in the serial-port map; COM7 and COM1 again, and two names that
# are no COM port, under Enum\Root\Ports. Wine may add ports of its own for the host's serial devices.
MAPPED_PORTS = (1, 2, 10)
ROOT_PORT_NAMES = ["COM7", "COM1", "LPT1", "com3"]
ROOT_PORTS = (7, 1)


def add_root_ports(rig, names):
    for i, name in enumerate(names):
        rig.reg("add", rf"HKLM\Enum\Root\Ports\{i:04d}", "/v", "PORTNAME", "/t", "REG_SZ", "/d", name, "/f")


def serialcomm_ports(rig):
    """The port numbers that Wine lists under HARDWARE\DEVICEMAP\SERIALCOMM."""
    words = rig.reg("query", r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM").split()
    return {int(w[3:]) for w in words if w.startswith("COM") and w[3:].isdigit()}


class SelectComConfigurator(unittest.TestCase):
    def start(self, rig, sim_speed, settings=None):
        link = rig.work / "com1"
        rig.map_com(1, link)
        # Ports without a device behind them are listed all the same.
        rig.map_com(2, rig.work / "com2-absent")
        rig.map_com(10, rig.work / "com10-absent")
        sim = rig.simulator(link, speed=sim_speed)
        if settings is not None:
            (rig.run_dir / "Vantrel.i").write_bytes(settings)
        rig.start()
        add_root_ports(rig, ROOT_PORT_NAMES)
        listed = serialcomm_ports(rig)
        self.assertTrue(set(MAPPED_PORTS) <= listed, listed)
        # Ports up to 99: the list's text order is their numeric order.
        self.table = tuple(sorted(listed | set(ROOT_PORTS)))
        self.expected_list = [f"COM{n:02d}" for n in self.table] + ["не выбран"]
        proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
        win = rig.wait_window("Vantrel")
        return sim, proc, win

    def open_dialog(self, rig, win):
        win.click(PORT_BUTTON)
        dialog = rig.wait_window(DIALOG_CAPTION, timeout=20)
        # The window exists before its modal run has begun; it is shown once the owner is disabled.
        wait_until(lambda: dialog.visible(None), 20, "the port dialog to show")
        return dialog, Combo(dialog, PORT_LIST), Combo(dialog, SPEED_LIST)

    def test_choose_com1_search_connects_behind_the_dialog_then_no_port_closes_it(self):
        with Rig("selectcom-cfg-apply") as rig:
            sim, proc, win = self.start(rig, 9600)
            win.wait_status(1, "Порт не выбран", 20)

            dialog, ports, speeds = self.open_dialog(rig, win)
            self.assertEqual(ports.texts(), self.expected_list)
            # Nothing chosen yet: "не выбран" is preselected, and no search has given a speed.
            no_port = len(self.table)
            self.assertEqual(ports.selection(), no_port)
            self.assertEqual(speeds.texts(), SPEEDS)
            self.assertEqual(speeds.selection(), -1)
            self.assertEqual(speeds.window.text(SPEED_LIST), "")
            self.assertFalse(dialog.enabled(SPEED_LIST))
            self.assertEqual(dialog.text(APPLY), "Применить")
            self.assertFalse(win.enabled(None), "the main window is disabled while the dialog runs")

            self.assertEqual(ports.choose(0), 0)
            dialog.click(APPLY)
            seen = []
            # The search runs in the main window while the dialog stays open: its timer ticks and its
            # link messages are handled behind the dialog.
            win.wait_status(1, "Подключение на COM1 (9600)", 40, seen)
            self.assertTrue(dialog.exists())
            searches = [t for t in seen if t.startswith("Поиск на скорости ")]
            # The step at 9600 ends with the first tick after the answer and may flash by unseen.
            expected = [f"Поиск на скорости {s}" for s in (1200, 2400, 4800, 9600)]
            self.assertIn(searches, (expected[:3], expected))
            self.assertEqual([s for s, _, answered in sim.requests() if answered], [9600])
            # The apply keeps the chosen position in the dialog.
            self.assertEqual(ports.selection(), 0)

            # "не выбран": the port is closed, so the restarted search sends nothing anywhere.
            sent = len(sim.requests())
            self.assertEqual(ports.choose(no_port), no_port)
            dialog.click(APPLY)
            win.wait_status(1, "Поиск на скорости 2400", 20)
            time.sleep(0.5)
            self.assertEqual(len(sim.requests()), sent)
            self.assertTrue(dialog.exists())

            dialog.click(OK)
            dialog.wait_gone()
            self.assertTrue(win.enabled(None))
            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)
            size, values = read_settings(rig.run_dir / "Vantrel.i", VANTREL_RECORD)
            self.assertEqual(size, 264)
            self.assertEqual(values[0], no_port, "the position of 'не выбран' is kept")
            self.assertEqual(values[2:2 + no_port + 1], self.table + (0,))

    def test_speed_box_shows_where_the_search_connected_and_ok_changes_nothing(self):
        settings = vantrel_settings(0, 4800, [1])
        with Rig("selectcom-cfg-speed") as rig:
            sim, proc, win = self.start(rig, 38400, settings)
            win.wait_status(1, "Подключение на COM1 (38400)", 40)
            wait_until(lambda: win.enabled(PORT_BUTTON), 10, "the port button")

            dialog, ports, speeds = self.open_dialog(rig, win)
            self.assertEqual(ports.texts(), self.expected_list)
            self.assertEqual(ports.selection(), 0)
            self.assertEqual(speeds.selection(), 7)
            self.assertEqual(dialog.text(SPEED_LIST), "38400")

            # Leaving with OK applies nothing: no reopen, no new search.
            sent = len(sim.requests())
            ports.choose(1)
            dialog.click(OK)
            dialog.wait_gone()
            time.sleep(2.5)
            self.assertEqual(win.status(1), "Подключение на COM1 (38400)")
            self.assertEqual(len(sim.requests()), sent)

            # Closing with the close box does the same.
            dialog, ports, _ = self.open_dialog(rig, win)
            self.assertEqual(ports.selection(), 0)
            dialog.close()
            dialog.wait_gone()

            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)
            # The dialog rebuilt the table from the registry; the choice stayed.
            _, values = read_settings(rig.run_dir / "Vantrel.i", VANTREL_RECORD)
            self.assertEqual(values[0], 0)
            self.assertEqual(values[2:2 + len(self.table) + 1], self.table + (0,))


if __name__ == "__main__":
    krtrig.main()
