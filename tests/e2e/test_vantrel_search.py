"""Vantrel finds the adapter: the real program searches speed by speed on COM3, a pseudo-terminal
on which the simulator answers only at its own speed."""

import struct
import time
import unittest

import krtrig
from krtrig import (IDOK, Rig, VANTREL, VANTREL_RECORD, handle, read_settings, vantrel_settings, wait_until,
                   windows_exe)
from test_vantrel_table import COL_VALUE, FINISHED, ROWS, expected_rows

READ_BUTTON, PORT_BUTTON, EXIT_BUTTON = VANTREL.IDC_READ_BUTTON, VANTREL.IDC_PORT_BUTTON, IDOK
PARAM_LIST = VANTREL.IDC_PARAM_LIST
PROBE_HEX = "10 01 10 1F 1D 10 02 09 30 09 30 30 33 0C 10 03 C5 15"
SEARCH_SPEEDS = [1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200]
SC_KEYMENU, SC_MOVE = 0xF100, 0xF010
IN_FOREIGN_LOOP = 0x2 | 0x4  # GUI_INMOVESIZE | GUI_INMENUMODE


def settings_for_com3(speed=4800):
    return vantrel_settings(0, speed, [3])


class VantrelSearch(unittest.TestCase):
    def start(self, rig, sim_speed, *sim_args):
        link = rig.work / "com3"
        rig.map_com(3, link)
        sim = rig.simulator(link, speed=sim_speed, extra=sim_args)
        (rig.run_dir / "Vantrel.i").write_bytes(settings_for_com3())
        rig.start()
        proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
        win = rig.wait_window("Vantrel")
        return sim, proc, win

    def probe_speeds(self, sim):
        frames = sim.requests()
        for _, hex_text, _ in frames:
            self.assertEqual(hex_text, PROBE_HEX)
        return [speed for speed, _, _ in frames]

    def test_adapter_at_9600_is_found_after_three_slower_speeds(self):
        with Rig("vantrel-search-9600") as rig:
            sim, proc, win = self.start(rig, 9600)
            seen = []
            win.wait_status(1, "Поиск на скорости 1200", 20, seen)
            # Both buttons stay disabled while the search runs.
            self.assertFalse(win.enabled(READ_BUTTON))
            self.assertFalse(win.enabled(PORT_BUTTON))
            win.wait_status(1, "Подключение на COM3 (9600)", 40, seen)

            # The steps at 1200, 2400 and 4800 last 1.5 s or more and must be seen; the one at 9600
            # ends with the first tick after the answer and may flash by between two looks.
            searches = [t for t in seen if t.startswith("Поиск на скорости ")]
            expected = [f"Поиск на скорости {s}" for s in (1200, 2400, 4800, 9600)]
            self.assertIn(searches, (expected[:3], expected))
            self.assertTrue(win.enabled(READ_BUTTON))
            self.assertTrue(win.enabled(PORT_BUTTON))
            self.assertEqual(self.probe_speeds(sim), [1200, 2400, 4800, 9600])
            self.assertEqual([answered for _, _, answered in sim.requests()], [False, False, False, True])

            # The probe's answer is decoded like any answer: row 0 shows parameter 003's value.
            answer = next(line for line in sim.log_lines() if line.startswith("TX fn=03"))
            data = bytes.fromhex(answer.split("hex=")[1].split(" |")[0])
            value = data[data.index(b"\x0c\x09") + 2:].split(b"\x0c")[0].split(b"\x09")[0]
            self.assertEqual(win.list_text(PARAM_LIST, 0, 2), value.decode("cp866"))

            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)
            self.assertEqual(read_settings(rig.run_dir / "Vantrel.i", VANTREL_RECORD), (264, (0, 9600, 3) + (0,) * 63))

    def test_silent_adapter_search_gives_up_at_4800_then_f5_reads_there(self):
        with Rig("vantrel-search-silent") as rig:
            sim, proc, win = self.start(rig, 4800, "--silent")
            started = time.monotonic()
            # Only the end of the search enables the port button.
            wait_until(lambda: win.enabled(PORT_BUTTON), 60, "the search to give up", interval=0.05)
            took = time.monotonic() - started
            self.assertGreater(took, 9.0, "the search steps must last 2 + 1.5 + 1.5 + 5 * 1 s")
            self.assertLess(took, 30.0)
            self.assertFalse(win.enabled(READ_BUTTON))
            wait_until(lambda: len(sim.requests()) == 9, 10, "the probe after the search")
            self.assertEqual(self.probe_speeds(sim), SEARCH_SPEEDS + [4800])
            self.assertFalse(any(answered for _, _, answered in sim.requests()))
            # The search's verdict stays on show after the port is reopened at 4800.
            self.assertEqual(win.status(1), "Адаптера нет...")

            # The port stays open at 4800: once the adapter talks, F5 (read button still disabled)
            # reads at that speed and the answer is the connection.
            sim.command("silent off")
            win.key("f5")
            win.wait_status(1, "Подключение на COM3 (4800)", 20)
            self.assertTrue(win.enabled(READ_BUTTON))
            self.assertEqual({speed for speed, _, _ in sim.requests()[9:]}, {4800})

            win.click(EXIT_BUTTON)
            win.wait_gone()
            rig.wait_exit(proc)
            self.assertEqual(read_settings(rig.run_dir / "Vantrel.i", VANTREL_RECORD)[1][:3], (0, 4800, 3))

    def test_late_answer_to_the_probe_after_the_search_still_connects(self):
        with Rig("vantrel-search-late") as rig:
            sim, proc, win = self.start(rig, 4800, "--silent")
            # Silent through the whole search; the adapter wakes up during the last step, so only the
            # probe that the failure path sends at 4800 gets an answer.
            wait_until(lambda: 115200 in self.probe_speeds(sim), 60, "the probe at 115200", interval=0.02)
            sim.command("silent off")
            seen = []
            win.wait_status(1, "Подключение на COM3 (4800)", 30, seen)
            self.assertIn("Поиск на скорости 115200", seen)
            self.assertEqual(self.probe_speeds(sim), SEARCH_SPEEDS + [4800])
            self.assertEqual([a for _, _, a in sim.requests()], [False] * 8 + [True])
            self.assertTrue(win.enabled(READ_BUTTON))
            self.assertTrue(win.enabled(PORT_BUTTON))
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)



class ForeignLoops(unittest.TestCase):
    """Loops that are not the program's own (the system menu's, a window move) hand the link
    messages straight to the window procedure: the search and a read must go on through them."""

    def hold(self, rig, win, command, argument=0, seconds=3.0):
        def flags():
            return int(rig.probe.call("loopflags", handle(win.hwnd))) & IN_FOREIGN_LOOP

        rig.probe.call("syscommand", handle(win.hwnd), hex(command), argument)
        wait_until(flags, 10, "the foreign loop to run")
        time.sleep(seconds)  # the user keeps the loop open this long
        self.assertTrue(flags(), "the loop ended by itself")
        for _ in range(5):  # a menu may take two Escapes: one for its popup, one for menu mode
            if not flags():
                break
            win.key("escape")
            time.sleep(0.3)
        wait_until(lambda: not flags(), 10, "the foreign loop to end")

    def test_search_and_reads_go_on_while_the_system_menu_or_a_move_runs(self):
        with Rig("vantrel-foreign-loops") as rig:
            link = rig.work / "com3"
            rig.map_com(3, link)
            sim = rig.simulator(link, speed=9600)
            (rig.run_dir / "Vantrel.i").write_bytes(settings_for_com3())
            rig.start()
            proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
            win = rig.wait_window("Vantrel")
            win.wait_status(1, "Поиск на скорости 1200", 20)
            # The step at 1200 bit/s runs out behind the menu: its next message arrives there.
            self.hold(rig, win, SC_KEYMENU, ord(" "))
            win.wait_status(1, "Подключение на COM3 (9600)", 40)

            # Slow answers, so that the read's messages fall inside the loops.
            sim.command("delay 300")
            for command, argument in ((SC_KEYMENU, ord(" ")), (SC_MOVE, 0)):
                win.key("f5")
                self.hold(rig, win, command, argument)
                win.wait_status(0, FINISHED, 60)
                win.wait_status(0, " ", 10)
                want = expected_rows(sim)
                self.assertEqual(sorted(want), list(range(ROWS)))
                self.assertEqual([win.list_text(PARAM_LIST, r, COL_VALUE) for r in range(ROWS)],
                                 [want[r][0] for r in range(ROWS)])

            win.click(EXIT_BUTTON)
            win.wait_gone()
            self.assertEqual(rig.wait_exit(proc), 0)


if __name__ == "__main__":
    krtrig.main()
