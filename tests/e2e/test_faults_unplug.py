"""The adapter's line goes dead (the simulator closes its end of the pseudo-terminal) in the middle of
a read and of a load: no crash and no hang, the configurator shows its time-outs as the read goes
on, the loader stops the load and says that the port is not connected; once the line is back and
the port applied again in the port dialog, work resumes."""

import time
import unittest

import krtrig
from faultkit import (CFG_PORT_BUTTON, CHOOSE_BUTTON, FINISHED, LOAD_DONE, NO_LINK, PARAM_LIST, PROGRESS,
                      START_BUTTON, Combo, choose_program, program_bytes, received, start_quillon,
                      start_vantrel, timed_probe)
from krtrig import IDOK, QUILLON, Rig, SELECTCOM, VANTREL_CAPTION, wait_until, windows_exe

CFG_PORT_LIST, CFG_APPLY = SELECTCOM.IDC_SELECTCOM_PORT, SELECTCOM.IDC_SELECTCOM_APPLY
LOADER_PORT_BUTTON, LOADER_PORT_LIST = QUILLON.IDC_PORT_BUTTON, SELECTCOM.IDC_SELECTCOM_LOADER_PORT
LOADER_SPEED_LIST, LOADER_APPLY = SELECTCOM.IDC_SELECTCOM_LOADER_SPEED, IDOK
NO_PORT = " Нет подключения к COM-порту"


def start_tooltip(rig, win):
    return bytes.fromhex(rig.probe.call("tiptext", format(win.hwnd, "x"), START_BUTTON)).decode("cp1251")


class Unplug(unittest.TestCase):
    def apply_port_again(self, rig, proc, win):
        """COM3 applied again in the port dialog; a program without the dialog is started anew
        (its settings name COM3, so it searches at once)."""
        win.click(CFG_PORT_BUTTON)
        try:
            dialog = rig.wait_window("Выбор порта", timeout=10)
        except AssertionError:
            win.close()
            win.wait_gone()
            self.assertEqual(rig.wait_exit(proc, 30), 0)
            proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
            win = rig.wait_window(VANTREL_CAPTION)
            win.wait_status(1, "Подключение на COM3 (1200)", 40)
            return proc, win
        Combo(dialog, CFG_PORT_LIST).choose_text("COM03")
        dialog.click(CFG_APPLY)
        win.wait_status(1, "Подключение на COM3 (1200)", 40)
        dialog.click(1)
        dialog.wait_gone()
        return proc, win

    def test_vantrel_read_goes_on_with_time_outs_and_resumes_after_replug(self):
        with Rig("faults-unplug-vantrel") as rig:
            sim, proc, win = start_vantrel(rig)
            win.key("f5")
            win.wait_status(0, "Получение параметров ...", 10)
            sim.command("unplug")
            seen = []
            # The steps left time out one after the other, 2 s each, and the read ends.
            win.wait_status(1, NO_LINK, 15, seen)
            win.wait_status(0, FINISHED, 30)
            self.assertIsNone(proc.poll(), "the program ended")
            timed_probe(self, lambda: win.list_count(PARAM_LIST))

            sim.command("replug")
            proc, win = self.apply_port_again(rig, proc, win)

            # A whole read again, answered: the last step fills the tasks' rows.
            before = len([line for line in sim.log_lines() if line.startswith("TX fn=14")])
            win.key("f5")
            win.wait_status(0, FINISHED, 60)
            after = len([line for line in sim.log_lines() if line.startswith("TX fn=14")])
            self.assertEqual(after - before, 3, "the three array reads were answered after the replug")
            self.assertEqual(win.list_text(PARAM_LIST, 5, 2), "500")
            win.close()
            win.wait_gone()
            self.assertEqual(rig.wait_exit(proc, 30), 0)

    def test_quillon_load_stops_on_a_dead_port_and_loads_again_after_replug(self):
        with Rig("faults-unplug-quillon") as rig:
            sim, proc, win, capture = start_quillon(rig)
            program = program_bytes(3000)
            (rig.run_dir / "P.HEX").write_bytes(program)
            choose_program(rig, win, "P.HEX")
            win.click(START_BUTTON)
            wait_until(lambda: len(received(capture)) > 300, 30, "the load to be under way")
            sim.command("unplug")
            # The driver gives the dead line up; the load stops as the stop button stops it, and
            # the port's pane says why.
            win.wait_status(1, NO_PORT, 30)
            self.assertEqual(timed_probe(self, lambda: win.text(PROGRESS)), "Процесс загрузки 0%")
            self.assertEqual(win.progress(PROGRESS), 0)
            self.assertTrue(win.enabled(CHOOSE_BUTTON))
            self.assertEqual(start_tooltip(rig, win), " Загрузка программы в KRT42 ")
            # It stays stopped: no late end of the load shows on the bar.
            time.sleep(1)
            self.assertEqual(win.progress(PROGRESS), 0)
            self.assertNotEqual(win.text(PROGRESS), LOAD_DONE)
            self.assertIsNone(proc.poll(), "the program ended")

            sim.command("replug")
            win.click(LOADER_PORT_BUTTON)
            dialog = rig.popup(win, "port dialog")
            Combo(dialog, LOADER_PORT_LIST).choose_text("COM03")
            Combo(dialog, LOADER_SPEED_LIST).choose_text("9600")
            dialog.click(LOADER_APPLY)
            dialog.wait_gone()
            # The dialog's own text of the port (the start-up text has one more leading blank).
            wait_until(lambda: win.status(1).strip() == "COM3,8,n,9600b", 20, "the port applied again")

            # The file is still chosen: a new load goes out whole on the new line.
            mark = len(received(capture))
            win.click(START_BUTTON)
            wait_until(lambda: received(capture)[mark:] == b"++" + program, 60, "the load after the replug")
            wait_until(lambda: win.text(PROGRESS) == LOAD_DONE, 30, "the end of the second load")
            win.close()
            win.wait_gone()
            self.assertEqual(rig.wait_exit(proc, 30), 0)


if __name__ == "__main__":
    krtrig.main()
