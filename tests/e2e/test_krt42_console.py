"""krt42.exe, the Windows console program, under Wine: it finds the simulated adapter on COM3 and
reads its table with the Win32 serial driver."""

import subprocess
import unittest

import krtrig
from krtrig import Rig, windows_exe


class Krt42Console(unittest.TestCase):
    def run_exe(self, rig, *args, stderr=None):
        proc = rig.launch(windows_exe("cli/krt42.exe"), *args, stdout=subprocess.PIPE, stderr=stderr)
        out, err = proc.communicate(timeout=120)
        if stderr is not None:
            return proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")
        return proc.returncode, out.decode("utf-8", "replace")

    def test_finds_and_reads_the_adapter_on_com3(self):
        with Rig("krt42-console") as rig:
            link = rig.work / "com3"
            rig.map_com(3, link)
            sim = rig.simulator(link, speed=4800)
            rig.start(probe=False)
            self.assertEqual(self.run_exe(rig, "find", "--port", "COM3"), (0, "COM3: KRT42 at 4800 bit/s\r\n"))
            code, out = self.run_exe(rig, "read", "--port", "COM3", "--speed", "4800", "--format", "csv")
            self.assertEqual(code, 0)
            lines = out.splitlines()
            self.assertEqual(len(lines), 105)
            self.assertEqual(lines[6], "5,052,00,500,мс,Периодичность опроса,yes,35 30 30")
            code, out, err = self.run_exe(rig, "find", "--port", "COM9", stderr=subprocess.PIPE)
            self.assertEqual(code, 6, (out, err))

            # A Cyrillic value reaches the adapter as the configurator sends it: in Windows-1251,
            # whatever the console's code page. The adapter's answer is read as OEM text, as the
            # configurator reads it.
            self.assertEqual(self.run_exe(rig, "write", "--port", "COM3", "--speed", "4800", "1", "Тест")[0], 0)
            self.assertIn("09 D2 E5 F1 F2 0C", "\n".join(sim.log_lines()).upper())
            code, out = self.run_exe(rig, "read", "--port", "COM3", "--speed", "4800", "--format", "csv")
            self.assertEqual(out.splitlines()[2],
                             "1,006,00,?хёЄ,,Идентификатор для радиообмена,yes,D2 E5 F1 F2")
            # A character the code page lacks is refused, not sent as '?'.
            code, _, err = self.run_exe(rig, "write", "--port", "COM3", "--speed", "4800", "1", "7✓",
                                        stderr=subprocess.PIPE)
            self.assertEqual(code, 2, err)
            self.assertIn("character 2", err)


if __name__ == "__main__":
    krtrig.main()
