"""Quillon's longest load: a program file larger than the adapter's 32768 bytes is cut to them. At
one 8-byte block per 20 ms tick this takes about 82 s, so it is the one long test."""

import unittest

import krtrig
from krtrig import Rig, wait_until
from faultkit import choose_program, received, start_quillon
from test_quillon_load import CHOOSE_BUTTON, LABEL, PROGRESS, START_BUTTON, hex_program

IMAGE_LIMIT = 32768


class QuillonLongLoad(unittest.TestCase):
    def test_a_40000_byte_file_sends_exactly_its_first_32768_bytes(self):
        with Rig("quillon-long") as rig:
            sim, proc, win, capture = start_quillon(rig)
            program = hex_program(40000)
            (rig.run_dir / "LONG.HEX").write_bytes(program)
            choose_program(rig, win, "LONG.HEX")
            win.click(START_BUTTON)

            wait_until(lambda: win.progress(PROGRESS) >= 50, 120, "half of the load")
            self.assertFalse(win.enabled(CHOOSE_BUTTON))
            wait_until(lambda: win.text(PROGRESS) == "Загрузка программы закончена 100%", 180, "the end of the load",
                       interval=0.5)
            data = received(capture)
            self.assertEqual(len(data), 2 + IMAGE_LIMIT)
            self.assertEqual(data, b"++" + program[:IMAGE_LIMIT])
            # The last block follows 32760 bytes: 99.98 % rounds to 100.
            self.assertEqual(win.text(LABEL), "Процесс ... 100%")
            self.assertEqual(win.progress(PROGRESS), 100)
            self.assertTrue(win.enabled(CHOOSE_BUTTON))

            win.close()
            win.wait_gone()
            rig.wait_exit(proc)


if __name__ == "__main__":
    krtrig.main()
