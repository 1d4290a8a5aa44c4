#!/usr/bin/env python3
"""Checks the Linux package as a user meets it, installed into a throwaway root.

    check_deb.py PACKAGE.deb WORK_DIR [NATIVE_TREE]

Checks: the control fields (a dependency on the package of every library the programs link) and
the files, owned by root and of one time; the station's systemd unit and its tray, a conffile with
every line a comment; the installed `krt42 --version`, and `krt42 read` against the installed
simulator; the station started with the unit's own command line (the tray and the state folder
moved into WORK_DIR, a free loopback port), which lists its port, finds the simulator, stops on
SIGTERM with 0 and leaves the job in the history that `krt42 history` lists; `systemd-analyze
verify` accepts the unit, where it is installed; both manual pages render without a warning at
80 columns and name every option their program's usage text names, and the documents they name
are in the package; krt42's page describes every command of `krt42 --help` with its options in
the synopsis, and every exit code; the bash completion offers the commands, every command's
options and no other, the formats, the kinds of job, the speeds and the ports `krt42 ports`
lists; the maintainer scripts neither start nor enable the service; lintian reports no error or
warning. With NATIVE_TREE (a built native tree), `scripts/run krt42 read` against a fresh simulator.
"""
import csv
import json
import os
import re
import selectors
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import urllib.error
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
# The commands krt42 --help must list at least; the checks take the list from --help itself.
COMMANDS = ["ports", "find", "read", "write", "diff", "apply", "load", "history", "serve"]
UNIT = "lib/systemd/system/krt42-station.service"
TRAY = "etc/krt42/tray"
SPEEDS = ["300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"]
FILES = [
    "usr/bin/krt42",
    "usr/bin/krt42sim",
    "usr/share/man/man1/krt42.1.gz",
    "usr/share/man/man1/krt42sim.1.gz",
    "usr/share/bash-completion/completions/krt42",
    "usr/share/doc/krt42/copyright",
    "usr/share/doc/krt42/changelog.Debian.gz",
    UNIT,
    TRAY,
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


def unit_values(text, section):
    """The values of each key in one section of a systemd unit, continuation lines joined."""
    values, current = {}, None
    for line in re.sub(r"\\\n", " ", text).splitlines():
        line = line.strip()
        if not line or line[0] in "#;":
            continue
        if line.startswith("["):
            current = line
        elif current == f"[{section}]" and "=" in line:
            key, value = line.split("=", 1)
            values.setdefault(key.strip(), []).append(value.strip())
    return values


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_line(stream, seconds):
    sel = selectors.DefaultSelector()
    sel.register(stream, selectors.EVENT_READ)
    return stream.readline().decode(errors="replace") if sel.select(seconds) else ""


def check_station(krt42, exec_start, shipped_tray, link, work, expect):
    """The unit's command line, its tray and state moved into WORK: the station serves LINK (the
    shipped tray's lines stay in front of it, so a line that is not a comment shows as a second
    port), finds the simulator behind it, stops on SIGTERM and leaves the job in its history."""
    tray, state, port = work / "tray", work / "station-state", free_port()
    tray.write_text(shipped_tray + f"{link}\n")
    moved = {"--ports-from": str(tray), "--state": str(state), "--listen": f"127.0.0.1:{port}"}
    argv = [str(krt42)] + [moved.get(before, word) for before, word in zip(exec_start, exec_start[1:])]
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        # The station says where it listens once it does.
        said = read_line(proc.stderr, 20)
        expect(f"http://127.0.0.1:{port}/" in said, f"the installed station did not start: {said.strip()!r}")
        if f"http://127.0.0.1:{port}/" not in said:
            return
        # No proxy: the request goes to the station, whatever the environment says.
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        base = f"http://127.0.0.1:{port}/api"
        listed = json.load(opener.open(f"{base}/ports", timeout=10))
        paths = [p.get("path") for p in listed.get("ports", [])]
        expect(paths == [str(link)], f"the installed station serves {paths}, not [{str(link)!r}]")
        find = urllib.request.Request(f"{base}/ports/{link.name}/find?wait=60", data=b"", method="POST")
        try:
            with opener.open(find, timeout=90) as answer:
                status, job = answer.status, json.load(answer).get("job", {})
        except urllib.error.HTTPError as e:
            status, job = e.code, {"error": e.read().decode(errors="replace")}
        expect(status == 200 and job.get("exit") == 0,
               f"the installed station's find: HTTP {status} {json.dumps(job, ensure_ascii=False)[:300]}")
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            _, rest = proc.communicate(timeout=30)
            expect(proc.returncode == 0, f"the installed station ended with {proc.returncode} on SIGTERM: "
                                         f"{rest.decode(errors='replace').strip()}")
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            expect(False, "the installed station did not stop within 30 s of SIGTERM")
    done = subprocess.run([str(krt42), "history", "--state", str(state), "--format", "csv"],
                          capture_output=True, text=True, timeout=30)
    jobs = list(csv.DictReader(done.stdout.splitlines()))
    found = [(j.get("port"), j.get("kind"), j.get("state"), j.get("source")) for j in jobs]
    expect(done.returncode == 0 and found == [(str(link), "find", "done", "station")],
           f"installed krt42 history after the station: exit {done.returncode}, jobs {found}; {done.stderr.strip()}")


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
    depends = {re.split(r"[\s(:]", d.strip())[0] for d in field("Depends").split(",")}
    expect("libc6" in depends, f"depends on {field('Depends')!r}, not on the C library it links")
    # The postinst makes the station's user with adduser.
    expect("adduser" in depends, f"depends on {field('Depends')!r}, not on adduser")
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
    control = work / "control"
    subprocess.run(["dpkg-deb", "-e", str(deb), str(control)], check=True)

    # Every library a program links comes with a dependency on its package (dpkg-shlibdeps).
    for program in ("krt42", "krt42sim"):
        dynamic = subprocess.run(["objdump", "-p", str(root / "usr/bin" / program)], capture_output=True,
                                 text=True).stdout
        for soname in re.findall(r"^\s*NEEDED\s+(\S+)", dynamic, re.M):
            owner = subprocess.run(["dpkg", "-S", f"*/{soname}"], capture_output=True, text=True).stdout
            packages = {line.split(":")[0] for line in owner.splitlines()}
            expect(packages & depends, f"{program} links {soname} of {sorted(packages)}, which Depends lacks")

    # The station's service: its tray a conffile that serves nothing as shipped, its program the
    # installed krt42, and maintainer scripts that leave it to the operator to enable and start.
    conffiles = (control / "conffiles").read_text().split() if (control / "conffiles").is_file() else []
    in_etc = sorted("/" + str(p.relative_to(root)) for p in (root / "etc").rglob("*") if p.is_file())
    expect(conffiles == in_etc, f"conffiles {conffiles}, not the files under /etc {in_etc}")
    shipped_tray = (root / TRAY).read_text()
    ports = [line for line in shipped_tray.splitlines() if line.split("#")[0].strip()]
    expect(not ports, f"/{TRAY} serves {ports} as shipped; every line must be a comment")
    unit = unit_values((root / UNIT).read_text(), "Service")
    exec_start = shlex.split(unit.get("ExecStart", [""])[-1])
    expect(exec_start[:2] == ["/usr/bin/krt42", "serve"] and (root / exec_start[0].lstrip("/")).is_file(),
           f"the unit's ExecStart {exec_start} does not run the installed krt42 serve")
    expected_args = {"--ports-from": f"/{TRAY}", "--state": "/var/lib/krt42", "--listen": "127.0.0.1:8042"}
    for option, value in expected_args.items():
        given = exec_start[exec_start.index(option) + 1] if option in exec_start[:-1] else None
        expect(given == value, f"the unit's ExecStart gives {option} {given}, not {value}")
    expect(unit.get("User", ["root"])[-1] not in ("root", "0"), "the unit runs the station as root")
    for script in ("postinst", "prerm", "postrm"):
        text = (control / script).read_text() if (control / script).is_file() else ""
        expect(os.access(control / script, os.X_OK), f"the maintainer script {script} is missing")
        starts = re.findall(r"^[^#\n]*\b(?:deb-systemd-invoke\s+(?:start|restart)|systemctl\s+(?:--\S+\s+)*"
                            r"(?:start|restart|enable))\b.*", text, re.M)
        expect(not starts, f"{script} starts or enables the service: {starts}")
    if shutil.which("systemd-analyze") is None:
        print(f"systemd-analyze is missing: the unit of {deb.name} is not verified")
    else:
        # Verified as installed, its program and manual page taken from the throwaway root.
        moved = work / "unit" / Path(UNIT).name
        moved.parent.mkdir()
        moved.write_text((root / UNIT).read_text().replace("/usr/bin/krt42", str(root / "usr/bin/krt42")))
        env = dict(os.environ, MANPATH=str(root / "usr/share/man"))
        done = subprocess.run(["systemd-analyze", "verify", str(moved)], env=env, capture_output=True, text=True)
        expect(done.returncode == 0 and not done.stderr.strip(),
               f"systemd-analyze verify {Path(UNIT).name}: {done.returncode} {done.stderr.strip()}")

    krt42, sim = root / "usr/bin/krt42", root / "usr/bin/krt42sim"
    done = subprocess.run([str(krt42), "--version"], capture_output=True, text=True, timeout=10)
    expect((done.returncode, done.stdout.strip()) == (0, f"krt42 {version}"),
           f"installed krt42 --version: {done.returncode} {done.stdout.strip()!r}")
    link = work / "com"
    with Simulator(sim, link, ["--speed", SIM_SPEED]):
        done = subprocess.run([str(krt42), "read", "--port", str(link), "--speed", SIM_SPEED, "--format", "csv"],
                              capture_output=True, text=True, timeout=60)
        if exec_start[:2] == ["/usr/bin/krt42", "serve"]:
            check_station(krt42, exec_start, shipped_tray, link, work, expect)
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
    # The usage gives each command its own lines: "  read  --port P... [--speed S] ...".
    usage_of = {m.group(1): m.group(2) for m in re.finditer(r"^  ([a-z]+)\b(.*?)(?=^  [a-z]+ |^\S|\Z)",
                                                            usages["krt42"], re.S | re.M)}
    command_names = list(usage_of)
    missing = sorted(set(COMMANDS) - set(command_names))
    expect(not missing, f"krt42 --help has no line for {missing}")
    # "-o, --output FILE": either name of an option is the option.
    aliases = {}
    for a, b in re.findall(r"^  (--?[a-z][a-z-]*), (--?[a-z][a-z-]*)\b", usages["krt42"], re.M):
        aliases[a], aliases[b] = b, a
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
    expect(described == set(command_names), f"krt42(1) describes the commands {sorted(described)}, "
                                            f"krt42 --help {sorted(command_names)}")
    # The synopsis gives each command's options as its usage line does.
    synopsis = re.search(r"^SYNOPSIS\n(.*?)^\S", text, re.S | re.M)
    lines = {m.group(1): m.group(2) for m in re.finditer(r"^ {7}krt42 ([a-z]+)\b(.*?)(?=^ {7}krt42 |\Z)",
                                                         synopsis.group(1) if synopsis else "", re.S | re.M)}
    for command in command_names:
        missing = sorted(options_in(usage_of[command]) - options_in(lines.get(command, "")))
        expect(command in lines and not missing, f"krt42(1)'s synopsis of {command} lacks "
                                                 f"{missing if command in lines else 'the command'}")
    # The documents the pages point to are in the package.
    for program in ("krt42", "krt42sim"):
        named = set(re.findall(r"/usr/share/doc/krt42/[\w.-]+", man(root / f"usr/share/man/man1/{program}.1.gz",
                                                                     "--nh", "--nj").stdout))
        for doc in sorted(d.rstrip(".") for d in named):
            expect((root / doc.lstrip("/")).is_file(), f"{program}(1) names {doc}, which the package lacks")
    # The service's page tells where its tray and state are.
    for path in (f"/{TRAY}", "/var/lib/krt42", "krt42-station"):
        expect(path in text, f"krt42(1) does not name {path}")
    status = re.search(r"^EXIT STATUS\n(.*?)^\S", text, re.S | re.M)
    codes = set(re.findall(r"^ {7}(\d+)(?=\s|$)", status.group(1), re.M)) if status else set()
    expect(codes == {str(c) for c in range(8)}, f"krt42(1) lists the exit codes {sorted(codes)}")

    completion = root / "usr/share/bash-completion/completions/krt42"
    offered = complete(completion, ["krt42", ""])
    expect(offered == set(command_names), f"completion offers {sorted(offered)} as commands, krt42 --help "
                                          f"{sorted(command_names)}")
    offered = complete(completion, ["krt42", "-"])
    for command in command_names:
        theirs = complete(completion, ["krt42", command, "-"])
        own = options_in(usage_of[command])
        missing = sorted(own - theirs)
        expect(not missing, f"completion does not offer {missing} after {command}")
        # An option the command does not take would only end in a usage error.
        foreign = sorted(theirs - own - {aliases.get(o) for o in own} - {"--"})
        expect(not foreign, f"completion offers {foreign} after {command}, which krt42 --help does not give it")
        offered |= theirs
    # One name of an option is enough: -o stands for --output too.
    missing = sorted(o for o in options_in(usages["krt42"]) - offered if aliases.get(o) not in offered)
    expect(not missing, f"completion never offers {missing}")
    for command in ("read", "history"):
        offered = complete(completion, ["krt42", command, "--format", ""])
        expect(offered == {"table", "csv", "json"}, f"completion offers {sorted(offered)} as {command}'s formats")
    kinds = re.search(r"^  --kind KIND .*\(([^)]*)\)", usages["krt42"], re.M)
    kinds = set(re.split(r",\s*", kinds.group(1))) if kinds else set()
    offered = complete(completion, ["krt42", "history", "--kind", ""])
    expect(len(kinds) >= 6 and offered == kinds, f"completion offers {sorted(offered)} as kinds, krt42 --help "
                                                 f"{sorted(kinds)}")
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
