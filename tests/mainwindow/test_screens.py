"""Both windows where they used to fail a user, under Wine on a 1366 x 768
display and a prefix of the test's own (tests/support/owndisplay.py, as the
dpi test has):

- at 120 dpi (125 %) the main window, 1250 x 888 at that scale, does not fit
  the screen: it is laid out at the largest scale that fits, inside the
  screen with its title strip; the dialog, which fits, keeps 125 %. (Without
  a window manager Wine's work area is the whole screen; the work areas with
  a taskbar are the native table's, tests/mainwindow/placement_test.cpp.)
- with a high-contrast colour scheme (white on black) in the prefix the
  captions of the check boxes, OK and Cancel and the title stand out from
  their background by at least 4.5 : 1. Wine's SystemParametersInfo always
  answers that high contrast is off, so the scheme's colours are what reach
  the programs; the in-process part (tests/settings/highcontrast_test.cpp)
  changes the colours of the session while the dialog is open.

The README's screenshots at 1366 x 768 and in high contrast come from here."""
import shutil
import subprocess
import unittest

from tests.support import screen, vel
from tests.support.owndisplay import OwnDisplay

SCREENS_BUILD = vel.BUILD / "screens"
SCREEN_W, SCREEN_H = 1366, 768
WM_CLOSE = 0x10
COLOURS_KEY = r"HKCU\Control Panel\Colors"
# High Contrast Black, as far as the forms draw with it.
HIGH_CONTRAST = {"Window": "0 0 0", "WindowText": "255 255 255", "ButtonFace": "0 0 0", "ButtonText": "255 255 255",
                 "Background": "0 0 0", "Menu": "0 0 0", "MenuText": "255 255 255", "InfoWindow": "0 0 0",
                 "InfoText": "255 255 255", "Hilight": "26 235 255", "HilightText": "0 0 0",
                 "GrayText": "63 242 63", "ButtonShadow": "255 255 255", "ButtonHilight": "255 255 255"}


def scaled(v, scale):
    return int(v * scale + 0.5)


class ScreensTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.d = OwnDisplay(SCREENS_BUILD, SCREEN_W, SCREEN_H)
        cls.app = cls.d.prefix / "drive_c" / "screens-app"
        shutil.rmtree(cls.app, ignore_errors=True)
        cls.app.mkdir(parents=True)
        shutil.copy2(vel.QUICK / "velBox.exe", cls.app / "velBox.exe")
        shutil.copy2(vel.BUILD / "client_tests.exe", cls.app / "client_tests.exe")

    @classmethod
    def tearDownClass(cls):
        cls.d.stop_wine()
        shutil.rmtree(cls.app, ignore_errors=True)
        cls.d.close()

    def start_client(self):
        vel.hosts_reset()
        (self.app / "cfg.xml").write_text(
            '<?xml version="1.0" encoding="UTF-8"?>\r\n<config><autorun>0</autorun><closetotray>0</closetotray>'
            '<shortlnk>0</shortlnk><ver>1.0.0</ver></config>\r\n', encoding="utf-8")
        self.client = self.d.start(self.app / "velBox.exe")
        self.addCleanup(self.end_client)

    def end_client(self):
        self.d.driver("end", "C:\\screens-app\\velBox.exe", 20000)
        try:
            self.client.wait(15)
        except subprocess.TimeoutExpired:
            self.client.kill()

    def shown_window(self, hwnd_of):
        """The rectangle of the window hwnd_of() names once it is shown."""
        def shown():
            h = hwnd_of()
            if not h or h == "0":
                return None
            rc, state = self.d.driver("state", h)
            return (h, self.d.rect(h)) if rc == 0 and state[:2] == ["1", "1"] else None
        found = vel.wait_until(shown, 40, step=0.5)
        self.assertTrue(found, "the window did not come")
        return found

    def assert_inside(self, rect, work, what):
        left, top, right, bottom = rect
        self.assertTrue(work[0] <= left and work[1] <= top and right <= work[2] and bottom <= work[3],
                        f"{what} {rect} is not inside the work area {work}")

    def test_a_small_screen_at_125_percent(self):
        self.d.set_dpi(120)
        self.start_client()
        menu = vel.wait_until(lambda: (self.d.driver("find", 0)[1] or [None])[0], 40, step=0.5)
        self.assertTrue(menu, "no tray form")
        main, rect = self.shown_window(lambda: (self.d.driver("main", menu)[1] or [None])[0])
        rc, work = self.d.driver("work", main)
        work = tuple(int(v) for v in work)
        print(f"work area {work}, main window {rect}", flush=True)
        # 1250 x 888 does not fit: the largest scale that does, the window
        # filling the work area's height, inside it with its title strip.
        self.assert_inside(rect, work, "the main window")
        width, height = rect[2] - rect[0], rect[3] - rect[1]
        scale = min(1.25, (work[2] - work[0]) / 1000, (work[3] - work[1]) / 710)
        self.assertLess(scale, 1.25)
        self.assertEqual((width, height), (scaled(1000, scale), scaled(710, scale)))
        self.assertEqual(rect[1], work[1])
        self.assertTrue(vel.wait_until(
            lambda: not screen.chrome_faults(self.d.shot(), rect[0], rect[1], width, height, 104, scale), 30, step=0.5),
            screen.chrome_faults(self.d.shot(), rect[0], rect[1], width, height, 104, scale))

        # The dialog fits at 125 %: that size, centred on the work area.
        self.d.open_settings()
        dialog, drect = self.shown_window(lambda: self.d.dialog(menu))
        self.assert_inside(drect, work, "the dialog")
        dw, dh = scaled(276, 1.25), scaled(267, 1.25)
        self.assertEqual((drect[2] - drect[0], drect[3] - drect[1]), (dw, dh))
        faults = lambda: screen.chrome_faults(self.d.shot(), drect[0], drect[1], dw, dh, 64, 1.25)
        self.assertTrue(vel.wait_until(lambda: not faults(), 30, step=0.5), faults())
        self.d.shot("screens-1366x768-125.png")
        self.d.driver("post", dialog, WM_CLOSE, 0, 0)

    def test_high_contrast(self):
        self.d.set_dpi(96)
        usual = self.colours()
        self.set_colours(HIGH_CONTRAST)
        try:
            self.start_client()
            menu = self.d.open_settings()
            dialog, (dl, dt, dr, db) = self.shown_window(lambda: self.d.dialog(menu))
            self.assertEqual((dr - dl, db - dt), (276, 267))
            faults = lambda: screen.chrome_faults(self.d.shot(), dl, dt, 276, 267, 64)
            self.assertTrue(vel.wait_until(lambda: not faults(), 30, step=0.5), faults())
            s = self.d.shot()
            s.save_part(vel.BUILD / "screenshots" / "settings-high-contrast.png", dl, dt, 276, 267)
            captions = {
                "开机自动运行": (32 + 18, 56, 32 + 97, 56 + 25),
                "创建桌面快捷方式": (32 + 18, 112, 32 + 121, 112 + 17),
                "关闭时,最小化至托盘": (32 + 18, 160, 32 + 137, 160 + 17),
                "确定": (60, 222, 86, 234),
                "取消": (188, 222, 214, 234),
                "设置中心": (46, 10, 108, 25),
            }
            for name, (x0, y0, x1, y1) in captions.items():
                with self.subTest(caption=name):
                    back, readable, best = screen.caption_contrast(s, dl + x0, dt + y0, dl + x1, dt + y1)
                    print(f"{name}: background {back}, {readable} pixels at 4.5 : 1 or more, best {best:.1f} : 1",
                          flush=True)
                    # The system's text colour on the system's window colour.
                    self.assertEqual(back, (0, 0, 0))
                    self.assertGreaterEqual(best, 4.5)
                    self.assertGreater(readable, 20)
            self.d.driver("post", dialog, WM_CLOSE, 0, 0)
        finally:
            self.set_colours({k: usual[k] for k in HIGH_CONTRAST if k in usual})

        # The in-process part, with the usual colours again. (Its changes
        # live in the session's volatile settings, which would hide the
        # registry's scheme from later programs: it comes last.)
        rc, out = self.d.wine(self.app / "client_tests.exe", "--gtest_filter=HighContrast.*",
                              timeout=300, env={"VELBOX_OWN_COLOURS": "1"})
        self.assertEqual(rc, 0, out[-3000:])
        self.assertIn("[  PASSED  ] 1 test", out)

    def colours(self):
        rc, out = self.d.wine("reg", "query", COLOURS_KEY)
        found = {}
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1] == "REG_SZ":
                found[parts[0]] = parts[2].strip()
        return found

    def set_colours(self, colours):
        for name, value in colours.items():
            rc, _ = self.d.wine("reg", "add", COLOURS_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f")
            self.assertEqual(rc, 0, name)


if __name__ == "__main__":
    unittest.main()
