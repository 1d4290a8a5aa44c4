"""The rig's own decisions, without Wine: which programs run on which host, and that nothing that
is missing turns into a quiet pass."""

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest
from pathlib import Path
from unittest import mock

TESTS = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(TESTS))

from krtrig import host, resources, rig  # noqa: E402


class ArchitectureChoice(unittest.TestCase):
    def choose(self, runs32, forced=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith("KRT_WINE_ARCH")}
        if forced is not None:
            env["KRT_WINE_ARCH"] = forced
        with mock.patch.dict(os.environ, env, clear=True), \
                mock.patch.object(host, "host_runs_32bit", return_value=runs32), \
                mock.patch.object(host, "_arch", None):
            return host.choose_arch()

    def test_the_host_decides_unless_forced(self):
        self.assertEqual(self.choose((True, "runs it")).bits, 32)
        only64 = self.choose((False, "Exec format error"))
        self.assertEqual((only64.bits, only64.name, only64.loader), (64, "win64", host.WINE64_LOADER))
        self.assertIn("Exec format error", only64.describe())
        self.assertEqual(self.choose((True, "runs it"), "64").bits, 64)
        self.assertEqual(self.choose((True, "runs it"), "32").loader, host.WINE32_LOADER)

    def test_forcing_what_cannot_run_fails_with_one_line(self):
        with self.assertRaises(host.RigError) as e:
            self.choose((False, "the kernel refuses i386 programs (Exec format error)"), "32")
        self.assertNotIn("\n", str(e.exception))
        self.assertIn("KRT_WINE_ARCH=32", str(e.exception))
        with self.assertRaises(host.RigError):
            self.choose((True, "runs it"), "86")

    def test_the_command_line_says_it_and_exits_1(self):
        env = dict(os.environ, PYTHONPATH=str(TESTS), KRT_WINE_ARCH="32")
        done = subprocess.run([sys.executable, "-m", "krtrig", "arch"], env=env, capture_output=True, text=True)
        if host.host_runs_32bit()[0]:
            self.assertEqual((done.returncode, done.stdout.split("\n")[0]), (0, "32"))
        else:
            self.assertEqual(done.returncode, 1)
            self.assertEqual(len(done.stderr.strip().splitlines()), 1, done.stderr)


class NoSilentSkips(unittest.TestCase):
    def test_a_program_missing_from_the_build_is_an_error(self):
        with tempfile.TemporaryDirectory() as empty, mock.patch.dict(os.environ, {"KRT_WIN64_DIR": empty}):
            with self.assertRaises(host.RigError) as e:
                rig.windows_exe("configurator/Vantrel.exe", host.Arch(64, "test"))
            self.assertIn("not built", str(e.exception))

    def test_a_test_file_whose_tests_skip_fails(self):
        with tempfile.TemporaryDirectory() as d:
            script = Path(d) / "test_skips.py"
            script.write_text(textwrap.dedent("""
                import unittest, krtrig
                class T(unittest.TestCase):
                    def test_x(self):
                        raise unittest.SkipTest("nothing to run")
                krtrig.main()
            """))
            env = dict(os.environ, PYTHONPATH=str(TESTS), KRT_WINE_ARCH="64")
            done = subprocess.run([sys.executable, str(script)], env=env, capture_output=True, text=True)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertTrue(done.stdout.startswith("e2e: testing the 64-bit programs"), done.stdout)


class ProgramsOwnNumbers(unittest.TestCase):
    def test_ids_and_records_come_from_the_programs(self):
        self.assertEqual(resources.VANTREL.IDC_STATUS_BAR, 59393)
        self.assertEqual(resources.SELECTCOM.IDD_SELECTCOM_LOADER, 138)
        self.assertEqual(len(resources.vantrel_settings()), 264)
        self.assertEqual(resources.vantrel_settings(2, 9600, [1, 3, 4])[:20],
                         bytes.fromhex("02000000 80250000 01000000 03000000 04000000"))
        self.assertEqual(len(resources.quillon_settings(ports=[3] * 16)), 76)
        with self.assertRaises(ValueError):
            resources.quillon_settings(ports=[3] * 17)


if __name__ == "__main__":
    unittest.main(verbosity=2)
