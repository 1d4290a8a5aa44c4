"""The icon buttons as a user sees them: screenshots of the real windows under Wine on the rig's X
server, with the pointer moved over the buttons. At rest a button is a grey icon on the face with no
frame; under the pointer the icon is in colour inside a raised frame (light top and left, dark
bottom and right); a disabled button shows an embossed icon and never a frame.

A screenshot of each main window is kept as an artefact of the build tree (KRT_ARTEFACTS)."""

import os
import struct
import subprocess
import unittest
import zlib
from pathlib import Path

import krtrig
from krtrig import IDOK, QUILLON, QUILLON_CAPTION, Rig, VANTREL, vantrel_settings, wait_until, windows_exe

VANTREL_READ, VANTREL_PORT, VANTREL_EXIT, VANTREL_LIST = (VANTREL.IDC_READ_BUTTON, VANTREL.IDC_PORT_BUTTON, IDOK,
                                                     VANTREL.IDC_PARAM_LIST)
QUILLON_CAPTION = "Загрузчик 42"
QUILLON_EXIT, QUILLON_PROGRESS = IDOK, QUILLON.IDC_PROGRESS

SATURATED = 48  # max - min of a pixel's channels: a colour, not a grey
NEAR = 10       # channel distance still counted as the same colour


def artefacts():
    path = Path(os.environ.get("KRT_ARTEFACTS") or krtrig.work_root() / "artefacts")
    path.mkdir(parents=True, exist_ok=True)
    return path


class Shot:
    """A screenshot of the whole X screen (the Wine desktop starts at its top-left corner, so screen
    coordinates of the windows are pixel coordinates)."""

    def __init__(self, rig):
        ppm = subprocess.run(["import", "-display", f":{rig.display}", "-window", "root", "-depth", "8", "ppm:-"],
                             capture_output=True, timeout=30, check=True).stdout
        # P6 header: magic, width, height, maximum, each followed by one blank.
        fields, at = [], 0
        while len(fields) < 4:
            while ppm[at:at + 1].isspace():
                at += 1
            start = at
            while not ppm[at:at + 1].isspace():
                at += 1
            fields.append(ppm[start:at])
        if fields[0] != b"P6" or fields[3] != b"255":
            raise AssertionError(f"unexpected screenshot format {fields}")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = ppm[at + 1:]

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def region(self, rect):
        left, top, right, bottom = rect
        return [self.at(x, y) for y in range(top, bottom) for x in range(left, right)]

    def save_png(self, path):
        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        stride = 3 * self.width
        rows = b"".join(b"\0" + self.pixels[y * stride:(y + 1) * stride] for y in range(self.height))
        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                               chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


def luminance(pixel):
    r, g, b = pixel
    return (30 * r + 59 * g + 11 * b) // 100


def same(a, b):
    return all(abs(x - y) <= NEAR for x, y in zip(a, b))


def saturated(pixel):
    return max(pixel) - min(pixel) > SATURATED


class ButtonLook:
    """What one screenshot shows of one button: its face colour, its icon's pixels and its edges.
    The pointer, when over the button, rests near its bottom-right corner, so that the tooltip opens
    below the button; the last CORNER pixels of the bottom and right edges are not looked at."""

    CORNER = 12

    def __init__(self, shot, rect):
        left, top, right, bottom = rect
        self.face = shot.at(left + 2, top + 2)
        # The icon (32 x 32) sits centred; a margin of 3 keeps the frame out of it.
        self.icon_at = {(x - left, y - top): shot.at(x, y) for y in range(top + 3, bottom - 3)
                        for x in range(left + 3, right - 3) if not same(shot.at(x, y), self.face)}
        self.icon = list(self.icon_at.values())
        c = self.CORNER
        self.top = [shot.at(x, top) for x in range(left + 1, right - c)]
        self.left = [shot.at(left, y) for y in range(top + 1, bottom - c)]
        self.bottom = [shot.at(x, bottom - 1) for x in range(left + 1, right - c)]
        self.right = [shot.at(right - 1, y) for y in range(top + 1, bottom - c)]
        self.pixels = shot.region(rect)

    def colour_pixels(self):
        return sum(1 for p in self.icon if saturated(p))

    def frameless(self):
        return all(same(p, self.face) for p in self.top + self.left + self.bottom + self.right)

    def raised(self):
        light = luminance(self.face) + 8
        dark = luminance(self.face) - 30
        return (all(luminance(p) >= light for p in self.top + self.left)
                and all(luminance(p) <= dark for p in self.bottom + self.right))

    def sunken(self):
        light = luminance(self.face) + 8
        dark = luminance(self.face) - 30
        return (all(luminance(p) <= dark for p in self.top + self.left)
                and all(luminance(p) >= light for p in self.bottom + self.right))

    def grey_levels(self):
        return {luminance(p) // 8 for p in self.icon}

    def describe(self):
        return (f"face {self.face}, {len(self.icon)} icon pixels, {self.colour_pixels()} in colour, "
                f"top {set(self.top)}, bottom {set(self.bottom)}")


class ButtonScreens(unittest.TestCase):
    def xdotool(self, rig, *args):
        # Real pointer input through the X server: the program sees it as a user's mouse.
        env = dict(os.environ, DISPLAY=f":{rig.display}")
        subprocess.run(["xdotool", *args], env=env, check=True, timeout=30, capture_output=True)

    def pointer(self, rig, x, y):
        self.xdotool(rig, "mousemove", str(x), str(y))

    def look(self, rig, rect):
        return ButtonLook(Shot(rig), rect)

    def wait_look(self, rig, rect, condition, what):
        seen = []

        def check():
            look = self.look(rig, rect)
            seen[:] = [look]
            return look if condition(look) else None

        try:
            return wait_until(check, 15, what, interval=0.1)
        except AssertionError as failure:
            raise AssertionError(f"{failure}; last look: {seen[0].describe() if seen else '-'}")

    def assert_at_rest(self, look, name):
        self.assertTrue(look.frameless(), f"{name} at rest has no frame: {look.describe()}")
        self.assertGreater(len(look.icon), 60, f"{name} shows its icon: {look.describe()}")
        self.assertEqual(look.colour_pixels(), 0, f"{name} at rest is grey: {look.describe()}")

    def hover_and_leave(self, rig, win, control, away, name, pressed=False):
        """Pointer over the button: colour and a raised frame; pointer away: exactly the rest look."""
        rect = win.rect(control)
        rest = self.look(rig, rect)
        self.assert_at_rest(rest, name)
        self.assertGreater(len(rest.grey_levels()), 3, f"{name}: a grey copy, not a flat silhouette")

        self.pointer(rig, rect[2] - 4, rect[3] - 4)
        hot = self.wait_look(rig, rect, lambda l: l.colour_pixels() > 0, f"{name} in colour under the pointer")
        self.assertGreater(hot.colour_pixels(), 40, f"{name} hot: {hot.describe()}")
        self.assertTrue(hot.raised(), f"{name} hot has a raised frame: {hot.describe()}")
        self.assertTrue(same(hot.face, rest.face), "the face colour stays")
        # The grey copy is the colour icon's grey level, pixel for pixel.
        self.assertEqual(len(hot.icon), len(rest.icon), f"{name}: the same icon shape in both states")

        if pressed:
            # Held down, the icon moves one pixel right and down and the frame sinks.
            self.xdotool(rig, "mousedown", "1")
            down = self.wait_look(rig, rect, lambda l: l.sunken(), f"{name} sunken while pressed")
            shifted = {(x + 1, y + 1): p for (x, y), p in hot.icon_at.items()}
            self.assertEqual(down.icon_at, shifted, f"{name}: pressed icon is the hot icon shifted by (1, 1)")
            # Released elsewhere: no click, and the button comes back up.
            self.pointer(rig, *away)
            self.xdotool(rig, "mouseup", "1")

        self.pointer(rig, *away)
        back = self.wait_look(rig, rect, lambda l: l.frameless() and l.colour_pixels() == 0,
                              f"{name} grey again after the pointer left")
        self.assertEqual(back.pixels, rest.pixels, f"{name}: leaving restores the rest look exactly")
        return hot

    def assert_disabled_never_lights(self, rig, win, control, away, name):
        self.assertFalse(win.enabled(control), f"{name} must be disabled here")
        rect = win.rect(control)
        rest = self.look(rig, rect)
        self.assert_at_rest(rest, name)
        # Embossed: the icon is drawn in the light and dark 3-D colours only, not in its grey copy.
        self.assertLessEqual(len({p for p in rest.icon}), 3, f"{name} disabled is embossed: {rest.describe()}")
        self.pointer(rig, rect[2] - 4, rect[3] - 4)
        # Nothing may change; give a hover the time it would take to show.
        for _ in range(5):
            now = self.look(rig, rect)
            self.assertEqual(now.pixels, rest.pixels, f"{name} disabled changed under the pointer: {now.describe()}")
            self.assertTrue(now.frameless())
        self.pointer(rig, *away)

    def centre(self, win, control):
        left, top, right, bottom = win.rect(control)
        return (left + right) // 2, (top + bottom) // 2

    def test_vantrel_buttons_grey_at_rest_colour_and_frame_under_the_pointer(self):
        with Rig("buttons-vantrel") as rig:
            rig.start()
            proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
            win = rig.wait_window("Vantrel")
            # No port chosen: the read button is disabled, the two others work.
            win.wait_status(1, "Порт не выбран", 30)
            away = self.centre(win, VANTREL_LIST)
            self.pointer(rig, *away)

            shot = self.wait_shot_settled(rig, win)
            shot.save_png(artefacts() / "vantrel.png")
            for control in (VANTREL_READ, VANTREL_PORT, VANTREL_EXIT):
                self.assert_at_rest(ButtonLook(shot, win.rect(control)), f"button {control}")

            hot = self.hover_and_leave(rig, win, VANTREL_PORT, away, "port button", pressed=True)
            self.hover_and_leave(rig, win, VANTREL_EXIT, away, "exit button")
            # The port icon is the yellow hand: its colour pixels are mostly yellow.
            yellow = sum(1 for r, g, b in hot.icon if r > 150 and g > 120 and b < 100)
            self.assertGreater(yellow, 40, "the port button's icon is its own, in colour")

            self.assert_disabled_never_lights(rig, win, VANTREL_READ, away, "read button")

            self.pointer(rig, win.rect(VANTREL_PORT)[2] - 4, win.rect(VANTREL_PORT)[3] - 4)
            self.wait_look(rig, win.rect(VANTREL_PORT), lambda l: l.raised(), "the port button hot again")
            Shot(rig).save_png(artefacts() / "vantrel-hover.png")

            win.click(VANTREL_EXIT)
            win.wait_gone()
            self.assertEqual(rig.wait_exit(proc), 0, "a clean exit, icon buttons and all")

    def test_vantrel_read_button_drawn_afresh_once_enabled_by_the_connection(self):
        with Rig("buttons-vantrel-connected") as rig:
            link = rig.work / "com3"
            rig.map_com(3, link)
            rig.simulator(link, speed=1200)
            (rig.run_dir / "Vantrel.i").write_bytes(vantrel_settings(0, 1200, [3]))
            rig.start()
            proc = rig.launch(windows_exe("configurator/Vantrel.exe"))
            win = rig.wait_window("Vantrel")
            win.wait_status(1, "Подключение на COM3 (1200)", 30)
            wait_until(lambda: win.enabled(VANTREL_READ), 10, "the read button after the connection")
            away = self.centre(win, VANTREL_LIST)
            self.pointer(rig, *away)
            rect = win.rect(VANTREL_READ)
            # No longer embossed: the grey copy, with its shades.
            rest = self.wait_look(rig, rect, lambda l: len(l.grey_levels()) > 3, "the read button's grey copy")
            self.assert_at_rest(rest, "read button")
            hot = self.hover_and_leave(rig, win, VANTREL_READ, away, "read button")
            # The read icon is the blue arrow.
            blue = sum(1 for r, g, b in hot.icon if b > r + 40 and b > g + 10)
            self.assertGreater(blue, 40, f"the read button's icon in colour: {hot.describe()}")
            win.close()
            win.wait_gone()
            rig.wait_exit(proc)

    def test_quillon_button_lights_under_the_pointer(self):
        exe = windows_exe("loader/Quillon.exe")
        with Rig("buttons-quillon") as rig:
            rig.start()
            proc = rig.launch(exe)
            win = rig.wait_window(QUILLON_CAPTION)
            away = self.centre(win, QUILLON_PROGRESS)
            self.pointer(rig, *away)
            shot = self.wait_shot_settled(rig, win)
            shot.save_png(artefacts() / "quillon.png")

            self.assertTrue(win.enabled(QUILLON_EXIT))
            self.hover_and_leave(rig, win, QUILLON_EXIT, away, "Quillon's exit button")
            win.click(QUILLON_EXIT)
            win.wait_gone()
            rig.wait_exit(proc)

    def wait_shot_settled(self, rig, win):
        """A screenshot once two in a row show the window alike (drawn, no tooltip fading)."""
        left, top, right, bottom = win.rect(None)
        last = [None]

        def settled():
            shot = Shot(rig)
            pixels = shot.region((left, top, right, bottom))
            stable = pixels == last[0]
            last[0] = pixels
            return shot if stable else None

        return wait_until(settled, 20, "the window to be drawn", interval=0.2)


if __name__ == "__main__":
    krtrig.main()
