"""Quillon's port dialog under Wine: the registry's ports and the ten speeds, the apply that reopens the
port at the chosen speed and ends the dialog, and the exit button that changes nothing."""

import termios
import unittest

import krtrig
from krtrig import (IDCANCEL, IDOK, QUILLON, QUILLON_RECORD, Rig, SELECTCOM, read_settings, wait_until,
                   windows_exe)
from test_selectcom_configurator import Combo, add_root_ports, serialcomm_ports

PORT_BUTTON, EXIT_BUTTON = QUILLON.IDC_PORT_BUTTON, IDOK
APPLY, LEAVE = IDOK, IDCANCEL
PORT_LIST, SPEED_LIST = SELECTCOM.IDC_SELECTCOM_LOADER_PORT, SELECTCOM.IDC_SELECTCOM_LOADER_SPEED
SPEEDS = ["      300", "      600", "    1200", "    2400", "    4800", "    9600", "  19200", "  38400",
          "  57600", "115200"]


def line_format(peer):
    """Data bits, parity and stop bits that the program set on its side of the pty, e.g. "8N1"."""
    cflag = termios.tcgetattr(peer.slave)[2]
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = "N" if not cflag & termios.PARENB else ("O" if cflag & termios.PARODD else "E")
    return f"{bits}{parity}{2 if cflag & termios.CSTOPB else 1}"


class SelectComLoader(unittest.TestCase):
    def open_dialog(self, rig, win):
        win.click(PORT_BUTTON)
        # The loader's port dialog has no caption.
        dialog = rig.wait_window("", timeout=20)
        # The window exists before its modal run has begun; it is shown once the owner is disabled.
        wait_until(lambda: dialog.visible(None), 20, "the port dialog to show")
        return dialog, Combo(dialog, PORT_LIST), Combo(dialog, SPEED_LIST)

    def test_apply_com2_at_9600_ends_the_dialog_and_exit_changes_nothing(self):
        exe = windows_exe("loader/Quillon.exe")
        with Rig("selectcom-loader") as rig:
            rig.map_com(1, rig.work / "com1-absent")
            rig.map_com(2, rig.work / "com2")
            rig.start()
            peer = rig.pty_peer(rig.work / "com2")
            table = tuple(sorted(serialcomm_ports(rig)))
            self.assertEqual(table[:2], (1, 2))
            proc = rig.launch(exe)
            win = rig.wait_window("Загрузчик 42")
            # No settings file: PortTable all 0, so port 0 at 19200 bit/s.
            win.wait_status(1, " COM0,8,n,19200b ", 20)

            dialog, ports, speeds = self.open_dialog(rig, win)
            self.assertFalse(dialog.text(None))
            self.assertEqual(ports.texts(), [f"COM{n:02d}" for n in table])
            self.assertEqual(speeds.texts(), SPEEDS)
            # The defaults: position 0 and 19200 bit/s.
            self.assertEqual(ports.selection(), 0)
            self.assertEqual(speeds.selection(), 6)

            ports.choose(1)
            speeds.choose(5)
            dialog.click(APPLY)
            dialog.wait_gone()
            win.wait_status(1, "COM2,8,n,9600b ", 10)
            self.assertEqual(peer.speed(), 9600)
            self.assertEqual(line_format(peer), "8N1")
            self.assertTrue(win.enabled(None))

            # Exit without apply: the port and both positions stay.
            dialog, ports, speeds = self.open_dialog(rig, win)
            self.assertEqual(ports.selection(), 1)
            self.assertEqual(speeds.selection(), 5)
            ports.choose(0)
            speeds.choose(9)
            dialog.click(LEAVE)
            dialog.wait_gone()
            self.assertEqual(win.status(1), "COM2,8,n,9600b ")
            self.assertEqual(peer.speed(), 9600)

            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)
            size, values = read_settings(rig.run_dir / "Quillon.i", QUILLON_RECORD)
            self.assertEqual(size, 76)
            self.assertEqual(values[:2], (1, 5))
            self.assertEqual(values[3:3 + len(table)], table)

    def test_port_that_cannot_be_opened_is_reported_and_the_dialog_closes(self):
        exe = windows_exe("loader/Quillon.exe")
        with Rig("selectcom-loader-absent") as rig:
            # COM42 is named only under Enum\Root\Ports, and Wine has no device behind it.
            rig.start()
            add_root_ports(rig, ["COM42"])
            table = sorted(serialcomm_ports(rig) | {42})
            proc = rig.launch(exe)
            win = rig.wait_window("Загрузчик 42")
            dialog, ports, speeds = self.open_dialog(rig, win)
            position = ports.texts().index("COM42")
            ports.choose(position)
            speeds.choose(9)
            dialog.click(APPLY)
            dialog.wait_gone()
            win.wait_status(1, " Нет подключения к COM-порту", 10)

            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)
            # The positions are kept all the same.
            self.assertEqual(read_settings(rig.run_dir / "Quillon.i", QUILLON_RECORD)[1][:2], (position, 9))
            self.assertEqual(table[position], 42)


if __name__ == "__main__":
    krtrig.main()
