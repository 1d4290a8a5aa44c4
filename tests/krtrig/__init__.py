"""The Wine rig of the end-to-end tests, the in-process window test, the benchmarks and
scripts/run: the real Windows programs under Wine on a private X server, their COM ports on
pseudo-terminals, observed and driven through the probe program.

Environment:
  KRT_WINE_ARCH           32 or 64: the programs to run (default: 32-bit where the host runs it)
  KRT_WIN32_DIR, KRT_WIN64_DIR   the Windows build trees (default build/win32, build/win64)
  KRT_SIM                 the simulator executable (default build/native/simulator/krt42sim)
  KRT_E2E_WORK            work directory for the cached template prefixes and the rigs
  KRT_E2E_KEEP            "1": keep each rig's prefix copy (for debugging)
"""

import sys
import unittest

from .devices import PtyPeer, Simulator, simulator_exe
from .frames import crc16_xmodem
from .host import Arch, RigError, choose_arch, work_root
from .resources import (FILE_DIALOG_FOLDER, FILE_DIALOG_NAME, IDCANCEL, IDC_STATIC, IDOK, QUILLON,
                        QUILLON_CAPTION, QUILLON_RECORD, SELECTCOM, VANTREL, VANTREL_CAPTION, VANTREL_RECORD,
                        quillon_settings, read_settings, vantrel_settings)
from .rig import Rig, end_process, start_xvfb, windows_exe
from .windows import LineProgram, Probe, ProbeError, Window, handle, wait_until


def main():
    """Runs the calling test module. Its first line says which programs are under test and why."""
    try:
        arch = choose_arch()
    except RigError as e:
        print(f"e2e: {e}", flush=True)
        sys.exit(1)
    print(f"e2e: testing {arch.describe()}", flush=True)
    result = unittest.main(exit=False, verbosity=2).result
    if result.testsRun == 0 or result.skipped:
        print("e2e: a skipped or empty test run counts as a failure", flush=True)
        sys.exit(1)
    sys.exit(0 if result.wasSuccessful() else 1)
