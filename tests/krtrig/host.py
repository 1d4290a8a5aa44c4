"""The host side of every Wine world: which programs this machine can run (32-bit or 64-bit), the
Wine commands and environment for them, the Russian locale, and the prepared template prefix.

Some hosts run no 32-bit x86 code at all: the kernel refuses every i386 program ("Exec format
error"), and with it the 32-bit Wine loader. There the 64-bit programs run under the 64-bit loader
on a win64 prefix. KRT_WINE_ARCH=32|64 forces a choice."""

import errno
import fcntl
import os
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent.parent

# Debian's loaders: /usr/bin/wine picks the 32-bit one whenever it is installed, even where the
# kernel cannot run it, so the rig names the loader itself.
WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"

# Changing how the template is made must change this, so that cached templates are rebuilt.
TEMPLATE_RECIPE = "krt-template-4"
DESKTOP_SIZE = "1024x768"


class RigError(Exception):
    pass


@dataclass(frozen=True)
class Arch:
    """The Windows programs under test and the Wine that runs them."""
    bits: int
    reason: str

    @property
    def name(self):
        return f"win{self.bits}"

    @property
    def loader(self):
        return WINE32_LOADER if self.bits == 32 else WINE64_LOADER

    def build_dir(self):
        """The Windows build tree of this architecture: $KRT_WIN32_DIR / $KRT_WIN64_DIR, else the
        tree that scripts/test.sh makes."""
        return Path(os.environ.get(f"KRT_WIN{self.bits}_DIR") or ROOT / "build" / self.name)

    def describe(self):
        return f"the {self.bits}-bit programs ({self.build_dir()}) under {self.bits}-bit Wine: {self.reason}"


_runs_32bit = None


def host_runs_32bit():
    """(True, why) when this host can run the 32-bit Wine loader, else (False, why)."""
    global _runs_32bit
    if _runs_32bit is not None:
        return _runs_32bit
    if not os.access(WINE32_LOADER, os.X_OK):
        _runs_32bit = (False, f"32-bit Wine ({WINE32_LOADER}, package wine32:i386) is not installed")
        return _runs_32bit
    try:
        done = subprocess.run([WINE32_LOADER, "--version"], capture_output=True, timeout=60)
    except OSError as e:
        why = "the kernel refuses i386 programs (Exec format error)" if e.errno == errno.ENOEXEC else str(e)
        _runs_32bit = (False, why)
        return _runs_32bit
    if done.returncode != 0:
        _runs_32bit = (False, f"{WINE32_LOADER} --version failed: "
                              + done.stderr.decode(errors="replace").strip()[:200])
    else:
        _runs_32bit = (True, "this host runs 32-bit x86 code")
    return _runs_32bit


_arch = None


def choose_arch():
    """The architecture for this process, decided once: KRT_WINE_ARCH if set, else 32-bit where the
    host runs it, else 64-bit. Forcing 32 where it cannot run raises RigError with one line."""
    global _arch
    if _arch is not None:
        return _arch
    forced = os.environ.get("KRT_WINE_ARCH", "").strip()
    if forced not in ("", "32", "64"):
        raise RigError(f"KRT_WINE_ARCH={forced}: give 32 or 64")
    runs32, why = host_runs_32bit()
    if forced == "32" and not runs32:
        raise RigError(f"KRT_WINE_ARCH=32, but this host cannot run the 32-bit programs: {why}")
    if forced:
        _arch = Arch(int(forced), os.environ.get("KRT_WINE_ARCH_WHY") or f"forced by KRT_WINE_ARCH={forced}")
    elif runs32:
        _arch = Arch(32, why)
    else:
        _arch = Arch(64, why)
    return _arch


# ----------------------------------------------------------------------------------------------
# Locale, environment, commands

_locale_env = None


def locale_env(spare_dir):
    """LC_ALL (and LOCPATH if the system lacks the locale) for a Russian Windows: ANSI 1251,
    OEM 866. Without a real ru_RU.UTF-8 locale Wine runs with other code pages."""
    global _locale_env
    if _locale_env is not None:
        return _locale_env
    names = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split()
    if "ru_ru.utf8" in names or "ru_ru.utf-8" in names:
        _locale_env = {"LC_ALL": "ru_RU.UTF-8"}
        return _locale_env
    locpath = Path(spare_dir) / "locale"
    if not (locpath / "ru_RU.UTF-8").exists():
        locpath.mkdir(parents=True, exist_ok=True)
        subprocess.run(["localedef", "-i", "ru_RU", "-f", "UTF-8", str(locpath / "ru_RU.UTF-8")],
                       check=True, capture_output=True)
    _locale_env = {"LC_ALL": "ru_RU.UTF-8", "LOCPATH": str(locpath)}
    return _locale_env


def wine_env(arch, prefix, display=None):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.update({"WINEARCH": arch.name, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
                "WINEPREFIX": str(prefix), "WINELOADER": arch.loader})
    env.update(locale_env(work_root()))
    if display is not None:
        env["DISPLAY"] = f":{display}"
    return env


def wine(arch, *args):
    """The command line that runs a Windows program (or a Wine tool such as reg) for arch."""
    return [arch.loader] + [str(a) for a in args]


def wineserver(*args):
    # Debian's wrapper runs the 64-bit server wherever it is installed; it serves both kinds.
    return ["wineserver"] + list(args)


def stop_wineserver(env, log=subprocess.DEVNULL, timeout=30):
    """Ends every process of env's prefix and waits for its server to go."""
    for flag in ("-k", "-w"):
        try:
            subprocess.run(wineserver(flag), env=env, stdout=log, stderr=log, timeout=timeout)
        except subprocess.TimeoutExpired:
            pass


def work_root():
    root = os.environ.get("KRT_E2E_WORK") or os.path.join(tempfile.gettempdir(), f"krt-rig-{os.getuid()}")
    Path(root).mkdir(parents=True, exist_ok=True)
    return Path(root)


# ----------------------------------------------------------------------------------------------
# Prefixes

def _wine_version():
    return subprocess.run(["wineserver", "--version"], capture_output=True, text=True).stdout.strip() \
        or subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()


def _run(args, env, log, timeout=180):
    subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=timeout, check=True)


def make_prefix(arch, prefix, log):
    """A new prefix as the programs need it: crash debugger off, and one virtual desktop so that
    windows get captions and a foreground window exists without a window manager."""
    env = wine_env(arch, prefix)
    try:
        _run(wine(arch, "wineboot", "-i"), env, log)
        _run(wine(arch, "reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug",
                  "/v", "Debugger", "/t", "REG_SZ", "/d", "", "/f"), env, log)
        _run(wine(arch, "reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop",
                  "/t", "REG_SZ", "/d", "Default", "/f"), env, log)
        _run(wine(arch, "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default",
                  "/t", "REG_SZ", "/d", DESKTOP_SIZE, "/f"), env, log)
        subprocess.run(wineserver("-w"), env=env, stdout=log, stderr=log, timeout=120)
    finally:
        subprocess.run(wineserver("-k"), env=env, stdout=log, stderr=log)


def ensure_template(arch):
    """The prepared prefix that every rig copies: made once per work directory and architecture,
    under a lock so that tests started together do not make it twice."""
    root = work_root()
    template = root / f"template-{arch.name}"
    stamp = template / ".krt-template"
    want = f"{TEMPLATE_RECIPE} {arch.name} {_wine_version()}"
    with open(root / f"template-{arch.name}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if stamp.exists() and stamp.read_text() == want:
            return template
        shutil.rmtree(template, ignore_errors=True)
        # Under the lock nobody else is building: what lies around is from a run that was killed.
        for stale in root.glob(f"template-{arch.name}.building-*"):
            shutil.rmtree(stale, ignore_errors=True)
        building = root / f"template-{arch.name}.building-{os.getpid()}"
        log_path = root / f"template-{arch.name}.log"
        with open(log_path, "w") as log:
            try:
                make_prefix(arch, building, log)
            except (subprocess.CalledProcessError, subprocess.TimeoutExpired, OSError) as e:
                raise RigError(f"could not make the {arch.name} Wine prefix ({e}); see {log_path}") from None
        (building / ".krt-template").write_text(want)
        os.rename(building, template)
        return template


def add_registry_values(prefix, key, values):
    """Adds string values to a key of a stopped prefix's system.reg (the key must exist)."""
    reg_file = Path(prefix) / "system.reg"
    text = reg_file.read_text(encoding="utf-8")
    head = "[" + key.replace("\\", "\\\\") + "]"
    start = text.find("\n" + head)
    if start < 0:
        raise RigError(f"{head} not in {reg_file}")
    end = text.find("\n\n", start + 1)
    if end < 0:
        end = len(text)
    lines = "".join(f'\n"{name}"="{value.replace(chr(92), chr(92) * 2)}"' for name, value in values.items())
    reg_file.write_text(text[:end] + lines + text[end:], encoding="utf-8")
