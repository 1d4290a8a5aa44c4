#!/usr/bin/env python3
"""Checks the Linux package as a user meets it, installed into a throwaway root.

    check_deb.py PACKAGE.deb WORK_DIR [NATIVE_TREE]

Checks: the control fields and the files, owned by root and of one time; the installed
`krt42 --version`, and `krt42 read` against the installed simulator; both manual pages render
without a warning at 80 columns and name every option their program's usage text names (krt42's
also every command and exit code); the bash completion offers the commands, every command's
options, the formats, the speeds and the ports `krt42 ports` lists; lintian reports no error or
warning. With NATIVE_TREE (a built native tree), `scripts/run krt42 read` against a fresh simulator.
"""
import csv
import os
import re
import selectors
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
COMMANDS = ["ports", "find", "read", "write", "diff", "apply", "load"]
SPEEDS = ["300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"]
FILES = [
    "usr/bin/krt42",
    "usr/bin/krt42sim",
    "usr/share/man/man1/krt42.1.gz",
    "usr/share/man/man1/krt42sim.1.gz",
    "usr/share/bash-completion/completions/krt42",
    "usr/share/doc/krt42/copyright",
    "usr/share/doc/krt42/changelog.Debian.gz",
]
ROWS = 104
SIM_SPEED = "9600"


def architecture():
    return subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                          check=True).stdout.strip()


def options_in(text):
    return set(re.findall(r"(?<![\w-])(--[a-z][a-z-]*[a-z]|-o)(?![\w-])", text))


class Simulator:
    """The installed krt42sim on a pty behind LINK, for as long as the with-block runs."""

    def __init__(self, program, link, extra=()):
        self.proc = subprocess.Popen([str(program), "--link", str(link), *extra], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def __enter__(self):
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        line = self.proc.stdout.readline().decode() if sel.select(20) else ""
        if not line.startswith("READY"):
            self.__exit__()
            raise RuntimeError(f"the installed krt42sim did not start: {line!r}")
        return self

    def __exit__(self, *exc):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.close()
            self.proc.wait(5)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()


def csv_rows(output):
    lines = output.splitlines()
    return lines[0] if lines else "", lines[1:]


def man(page, *extra):
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    env.pop("MANPAGER", None)
    env.pop("PAGER", None)
    return subprocess.run(["man", *extra, "-l", str(page)], env=env, capture_output=True, text=True)


def complete(completion, words):
    """What the completion offers for the last of WORDS (the word being typed)."""
    script = 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _krt42; printf "%s\\n" "${COMPREPLY[@]}"'
    done = subprocess.run(["bash", "-c", script, "complete", str(completion), *words], capture_output=True,
                          text=True, timeout=30)
    return set(filter(None, done.stdout.splitlines()))


def check(deb, version, work, native_tree=None):
    failures = []

    def expect(ok, message):
        if not ok:
            failures.append(f"{deb.name}: {message}")

    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    root = work / "root"
    subprocess.run(["dpkg-deb", "-x", str(deb), str(root)], check=True)

    def field(name):
        return subprocess.run(["dpkg-deb", "-f", str(deb), name], capture_output=True, text=True).stdout.strip()

    expect(field("Package") == "krt42", f"package {field('Package')!r}")
    expect(field("Version") == version, f"version {field('Version')!r}, not {version}")
    expect(field("Architecture") == architecture(), f"architecture {field('Architecture')!r}")
    expect("libc6" in field("Depends"), f"depends on {field('Depends')!r}, not on the C library it links")
    listing = subprocess.run(["dpkg-deb", "-c", str(deb)], capture_output=True, text=True, check=True).stdout
    entries = [line.split() for line in listing.splitlines()]
    owners = {e[1] for e in entries}
    times = {(e[3], e[4]) for e in entries}
    expect(owners == {"root/root"}, f"owners {sorted(owners)}")
    expect(len(times) == 1, f"{len(times)} different file times")
    for name in FILES:
        expect((root / name).is_file(), f"{name} is missing")
    if failures:
        return failures

    krt42, sim = root / "usr/bin/krt42", root / "usr/bin/krt42sim"
    done = subprocess.run([str(krt42), "--version"], capture_output=True, text=True, timeout=10)
    expect((done.returncode, done.stdout.strip()) == (0, f"krt42 {version}"),
           f"installed krt42 --version: {done.returncode} {done.stdout.strip()!r}")
    link = work / "com"
    with Simulator(sim, link, ["--speed", SIM_SPEED]):
        done = subprocess.run([str(krt42), "read", "--port", str(link), "--speed", SIM_SPEED, "--format", "csv"],
                              capture_output=True, text=True, timeout=60)
    header, rows = csv_rows(done.stdout)
    expect(done.returncode == 0, f"installed krt42 read ended with {done.returncode}: {done.stderr.strip()}")
    expect(header.startswith("row,param,index,value"), f"installed krt42 read: header {header!r}")
    answered = [r for r in csv.reader(rows) if len(r) > 6 and r[6] == "yes"]
    expect(len(rows) == ROWS and len(answered) == ROWS, f"installed krt42 read: {len(answered)} of {len(rows)} rows "
                                                       f"answered, not {ROWS}")

    # Every option a program's usage names must be in its manual page.
    usages = {
        "krt42": subprocess.run([str(krt42), "--help"], capture_output=True, text=True).stdout,
        "krt42sim": subprocess.run([str(sim)], capture_output=True, text=True).stderr,
    }
    for program, usage in usages.items():
        page = root / f"usr/share/man/man1/{program}.1.gz"
        rendered = man(page, "--warnings")
        expect(rendered.returncode == 0 and rendered.stderr.strip() == "",
               f"man --warnings -l {program}.1: {rendered.returncode} {rendered.stderr.strip()}")
        text = man(page, "--nh", "--nj").stdout
        expect(len(options_in(usage)) >= 3, f"{program}'s usage names only {sorted(options_in(usage))}")
        missing = sorted(options_in(usage) - options_in(text))
        expect(not missing, f"{program}(1) lacks {missing}, which its usage names")
    text = man(root / "usr/share/man/man1/krt42.1.gz", "--nh", "--nj").stdout
    commands = re.search(r"^COMMANDS\n(.*?)^\S", text, re.S | re.M)
    described = set(re.findall(r"^ {7}(\w+)\b", commands.group(1), re.M)) if commands else set()
    expect(described == set(COMMANDS), f"krt42(1) describes the commands {sorted(described)}")
    status = re.search(r"^EXIT STATUS\n(.*?)^\S", text, re.S | re.M)
    codes = set(re.findall(r"^ {7}(\d+)(?=\s|$)", status.group(1), re.M)) if status else set()
    expect(codes == {str(c) for c in range(8)}, f"krt42(1) lists the exit codes {sorted(codes)}")

    completion = root / "usr/share/bash-completion/completions/krt42"
    offered = complete(completion, ["krt42", ""])
    expect(offered == set(COMMANDS), f"completion offers {sorted(offered)} as commands")
    offered = complete(completion, ["krt42", "-"])
    for command in COMMANDS:
        # The usage gives each command its own lines: "  read  --port P... [--speed S] ...".
        own = re.search(rf"^  {command}\b(.*?)(?=^  [a-z]+ |^\S|\Z)", usages["krt42"], re.S | re.M)
        theirs = complete(completion, ["krt42", command, "-"])
        missing = sorted(options_in(own.group(1) if own else "") - theirs)
        expect(own is not None, f"krt42 --help has no line for {command}")
        expect(not missing, f"completion does not offer {missing} after {command}")
        offered |= theirs
    missing = sorted(options_in(usages["krt42"]) - offered)
    expect(not missing, f"completion never offers {missing}")
    offered = complete(completion, ["krt42", "read", "--format", ""])
    expect(offered == {"table", "csv", "json"}, f"completion offers {sorted(offered)} as formats")
    offered = complete(completion, ["krt42", "write", "--speed", ""])
    expect(offered == set(SPEEDS), f"completion offers {sorted(offered)} as speeds")
    # The ports are the ones the program being completed lists, a device and its by-id name a line.
    lister = work / "lister"
    lister.write_text("#!/bin/sh\n[ \"$1\" = ports ] && printf '/dev/ttyS0\\n/dev/ttyUSB3  /dev/serial/by-id/usb-x\\n'\n")
    lister.chmod(0o755)
    offered = complete(completion, [str(lister), "read", "--port", "/dev/"])
    expect(offered == {"/dev/ttyS0", "/dev/ttyUSB3", "/dev/serial/by-id/usb-x"},
           f"completion offers {sorted(offered)} as ports")

    if shutil.which("lintian") is None:
        expect(False, "lintian is missing; sudo ./scripts/setup.sh installs it")
    else:
        done = subprocess.run(["lintian", "--fail-on", "error,warning", str(deb)], capture_output=True, text=True)
        print(f"lintian {deb.name}: exit {done.returncode}" + (f"\n{done.stdout.strip()}" if done.stdout.strip() else
                                                             ", nothing reported"))
        expect(done.returncode == 0, f"lintian: {done.stdout.strip()}")

    if native_tree:
        env = dict(os.environ, KRT_HOME=str(work / "run-home"), KRT_NATIVE_DIR=str(native_tree))
        done = subprocess.run([sys.executable, str(ROOT / "scripts" / "run"), "krt42", "read", "--format", "csv"],
                              env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
        header, rows = csv_rows(done.stdout)
        expect(done.returncode == 0 and len(rows) == ROWS,
               f"scripts/run krt42 read: exit {done.returncode}, {len(rows)} rows on stdout; {done.stderr.strip()}")
    return failures


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: " + __doc__.strip().splitlines()[2].strip())
    deb, work = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    version = (ROOT / "VERSION").read_text().splitlines()[0].strip()
    failures = check(deb, version, work, Path(sys.argv[3]).resolve() if len(sys.argv) == 4 else None)
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
