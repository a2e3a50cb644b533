"""Both programs' windows at 96, 120, 144 and 192 dpi under Wine.

Runs apart from the harness's display and prefix: a 2560 x 1600 virtual
display (the main window measures 2000 x 1420 at 200 %), a prefix of its own
(build/windows/dpi/wineprefix) whose LogPixels the test sets for each dpi,
and its own wineserver and notification area; the harness's stand-in hosts
serve the pages. At each dpi the in-process checks of tests/mainwindow/
dpi_test.cpp run again (sizes times the scale, captions within their
controls, chrome and pictures at their scaled places), then velBox.exe is
started and the whole screen shows both windows' chrome at its scaled
places. The screenshots at 100 % and 150 % are the README's."""
import shutil
import subprocess
import time
import unittest

from tests.support import screen, vel
from tests.support.owndisplay import OwnDisplay

DPI_BUILD = vel.BUILD / "dpi"
PREFIX = DPI_BUILD / "wineprefix"
SCREEN_W, SCREEN_H = 2560, 1600
DPIS = (96, 120, 144, 192)
WM_CLOSE = 0x10


def scaled(v, scale):
    """A 96-dpi length in pixels at the scale, as the programs round it."""
    return int(v * scale + 0.5)


def chrome_near(s, left, top, w, h, title_w, scale):
    """The chrome's faults at the centred place, allowing the place to be
    off by one pixel (the twips arithmetic rounds a half up): [] when the
    window's chrome is there, at exactly w x h."""
    best = None
    for dx in (0, 1, -1):
        for dy in (0, 1, -1):
            faults = screen.chrome_faults(s, left + dx, top + dy, w, h, title_w, scale)
            if not faults:
                return []
            best = best or faults
    return best


class DpiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.d = OwnDisplay(DPI_BUILD, SCREEN_W, SCREEN_H)

    @classmethod
    def tearDownClass(cls):
        cls.d.close()

    def driver(self, *args):
        return self.d.driver(*args)

    def test_both_windows_at_every_scale(self):
        app = PREFIX / "drive_c" / "dpi-app"
        shutil.rmtree(app, ignore_errors=True)
        app.mkdir(parents=True)
        for p in ("velBox.exe", "client_tests.exe"):
            shutil.copy2(vel.BUILD / p, app / p)
        try:
            for dpi in DPIS:
                with self.subTest(dpi=dpi):
                    started = time.time()
                    self.at_dpi(dpi, app)
                    print(f"{dpi} dpi: {time.time() - started:.1f} s", flush=True)
        finally:
            self.d.stop_wine()
            shutil.rmtree(app, ignore_errors=True)

    def at_dpi(self, dpi, app):
        scale = dpi / 96
        self.d.set_dpi(dpi)
        # The in-process checks at this dpi.
        rc, out = self.d.wine(app / "client_tests.exe", "--gtest_filter=DpiTest.*", timeout=300)
        self.assertEqual(rc, 0, out[-3000:])

        vel.hosts_reset()
        (app / "cfg.xml").write_text(
            '<?xml version="1.0" encoding="UTF-8"?>\r\n<config><autorun>0</autorun><closetotray>0</closetotray>'
            '<shortlnk>0</shortlnk><ver>1.0.0</ver></config>\r\n', encoding="utf-8")
        client = self.d.start(app / "velBox.exe")
        try:
            w, h = scaled(1000, scale), scaled(710, scale)
            left, top = (SCREEN_W - w) // 2, (SCREEN_H - h) // 2
            title_w = 104
            self.assertTrue(vel.wait_until(
                lambda: not chrome_near(self.d.shot(), left, top, w, h, title_w, scale), 60, step=0.5),
                chrome_near(self.d.shot(), left, top, w, h, title_w, scale))

            # The settings dialog from the tray menu, centred over it.
            menu = self.d.open_settings()
            dw, dh = scaled(276, scale), scaled(267, scale)
            # Centred on the work area, which the notification area leaves whole.
            dl, dt = (SCREEN_W - dw) // 2, (SCREEN_H - dh) // 2
            faults = lambda: chrome_near(self.d.shot(), dl, dt, dw, dh, 64, scale)
            self.assertTrue(vel.wait_until(lambda: not faults(), 30, step=0.5), faults())
            s = self.d.shot(f"dpi-{round(scale * 100)}.png" if dpi in (96, 144) else None)
            self.assertEqual(chrome_near(s, left, top, w, h, title_w, scale), [])
            # The three check boxes' captions on the screen, right of their
            # squares, ending inside the dialog.
            for y in (56 + 12, 112 + 8, 160 + 8):
                dark = s.dark(dl + scaled(32, scale), dt + scaled(y - 6, scale),
                              dl + scaled(32 + 137, scale), dt + scaled(y + 6, scale))
                self.assertGreater(dark, 20 * scale * scale, y)
            self.driver("post", self.d.dialog(menu), WM_CLOSE, 0, 0)
        finally:
            self.driver("end", "C:\\dpi-app\\velBox.exe", 20000)
            try:
                client.wait(15)
            except subprocess.TimeoutExpired:
                client.kill()


if __name__ == "__main__":
    unittest.main()
