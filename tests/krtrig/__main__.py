"""Command-line entry of the rig:

    python3 -m krtrig arch                 which programs the tests run, and why (exit 1: none)
    python3 -m krtrig template             make the cached template prefix of that architecture
    python3 -m krtrig window-test EXE      run a self-checking Win32 test program in a fresh world
    python3 -m krtrig hold-tty FD          (internal) own a pty slave as controlling terminal
    python3 -m krtrig reaper PID PREFIX BITS   (internal) end a dead rig's processes
"""

import subprocess
import sys

from . import host
from .devices import hold_tty
from .rig import Rig, end_process, reaper, windows_exe


def _arch_or_exit():
    try:
        return host.choose_arch()
    except host.RigError as e:
        print(f"krtrig: {e}", file=sys.stderr)
        sys.exit(1)


def window_test(exe_relative):
    """Runs a console test program of the Windows build on a private desktop; its output (in the
    programs' code page) is shown in UTF-8 and its exit code is the result."""
    arch = _arch_or_exit()
    print(f"e2e: testing {arch.describe()}", flush=True)
    with Rig("window-test", arch) as rig:
        rig.start(probe=False)
        proc = rig.launch(windows_exe(exe_relative, arch), stdout=subprocess.PIPE)
        try:
            out, _ = proc.communicate(timeout=300)
        except subprocess.TimeoutExpired:
            end_process(proc)
            print("the window test did not end within 300 s")
            return 1
        sys.stdout.write(out.decode("cp1251", "replace"))
        if proc.returncode != 0:
            print(f"exit code {proc.returncode}")
        return proc.returncode


def main():
    args = sys.argv[1:]
    if args[:1] == ["arch"]:
        arch = _arch_or_exit()
        print(arch.bits)
        print(arch.describe())
    elif args[:1] == ["template"]:
        arch = _arch_or_exit()
        print(f"e2e: testing {arch.describe()}", flush=True)
        print(host.ensure_template(arch))
    elif args[:1] == ["window-test"] and len(args) == 2:
        sys.exit(window_test(args[1]))
    elif args[:1] == ["hold-tty"] and len(args) == 2:
        hold_tty(int(args[1]))
    elif args[:1] == ["reaper"] and len(args) == 4:
        reaper(int(args[1]), args[2], int(args[3]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
