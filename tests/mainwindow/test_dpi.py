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
import os
import shutil
import subprocess
import time
import unittest
from pathlib import Path

from tests.support import screen, vel

DPI_BUILD = vel.BUILD / "dpi"
PREFIX = DPI_BUILD / "wineprefix"
SCREEN_W, SCREEN_H = 2560, 1600
DPIS = (96, 120, 144, 192)
SHOTS = vel.BUILD / "screenshots"
WM_MOUSEMOVE, WM_RBUTTONDOWN, WM_CLOSE = 0x200, 0x204, 0x10
VK_DOWN, VK_RETURN = 0x28, 0x0D


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


class DpiDisplay:
    """Virtual display, prefix, wineserver and notification area of the test."""

    def __init__(self):
        (DPI_BUILD / "harness").mkdir(parents=True, exist_ok=True)
        n = 120
        while Path(f"/tmp/.X11-unix/X{n}").exists() or Path(f"/tmp/.X{n}-lock").exists():
            n += 1
        self.display = f":{n}"
        self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24",
                                      "-nolisten", "tcp"], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        vel.wait_until(lambda: Path(f"/tmp/.X11-unix/X{n}").exists(), 10)
        (DPI_BUILD / "harness" / "lane0.env").write_text(f"export DISPLAY={self.display}\n")
        self.env = dict(os.environ, WINEPREFIX=str(PREFIX), WINEDEBUG="-all", LC_ALL="zh_CN.UTF-8",
                        WINEARCH="win64", DISPLAY=self.display,
                        WINEDLLOVERRIDES="mscoree=;winemenubuilder.exe=d")
        # A copy of the harness's first prefix, made once (seconds, not a
        # wineboot); its own lane number is 0, the only one it has.
        subprocess.run([str(vel.ROOT / "tools" / "wine-prefix.sh"), str(DPI_BUILD)],
                       env=dict(self.env, VELBOX_LANE="0", VELBOX_PREFIX_TEMPLATE=str(vel.BUILD / "wineprefix")),
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=600, check=True)
        self.keeper = None
        self.server = None

    def wine(self, *args, timeout=120):
        r = subprocess.run(["wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=timeout)
        return r.returncode, r.stdout.decode("utf-8", "replace")

    def start(self, *args):
        return subprocess.Popen(["wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)

    def set_dpi(self, dpi):
        """LogPixels for the programs started from now on; the wineserver and
        the notification area start anew with it."""
        self.stop_wine()
        self.start_server()
        for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
            rc, _ = self.wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", dpi, "/f")
            assert rc == 0, key
        # Before the server was kept, a loaded machine once saw no taskbar
        # come after a restart: should it happen again, say what was running
        # and start the server and the shell once more.
        for attempt in (1, 2):
            why = self.start_shell()
            if not why:
                return
            print(f"{dpi} dpi, start {attempt} of the notification area: {why}", flush=True)
            self.stop_wine()
            self.start_server()
        raise AssertionError(f"no notification area: {why}")

    def start_server(self):
        # One that stays until it is ended, as the harness's does: a server
        # that ends on its own begins ending Wine's services and desktop
        # whenever a pause between two programs here lasts three seconds.
        self.server = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)
        # Its first program starts Wine's services, which stay with it: with
        # streams of their own, not the pipes of a program read here.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def start_shell(self):
        """None once the notification area is there, else what was seen."""
        ready = DPI_BUILD / "harness" / "shell.ready"
        ready.unlink(missing_ok=True)
        self.keeper = self.start(vel.BUILD / "velShellKeeper.exe", "Z:" + str(ready).replace("/", "\\"))
        if vel.wait_until(ready.exists, 90):
            return None
        ps = subprocess.run(["ps", "-eo", "pid,stat,etimes,args"], capture_output=True, text=True).stdout
        wine = [line for line in ps.splitlines() if "wine" in line.lower() or ".exe" in line.lower()]
        return f"keeper exit code {self.keeper.poll()}; processes: " + " | ".join(wine)

    def stop_wine(self):
        if self.keeper:
            self.keeper.kill()
            self.keeper.wait(10)
            self.keeper = None
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=60)
        if self.server:
            self.server.wait(60)
            self.server = None

    def close(self):
        self.stop_wine()
        # Ended, not killed: the display removes its lock and socket.
        self.xvfb.terminate()
        try:
            self.xvfb.wait(10)
        except subprocess.TimeoutExpired:
            self.xvfb.kill()
            self.xvfb.wait(10)
        (DPI_BUILD / "harness" / "lane0.env").unlink(missing_ok=True)

    def shot(self, save_as=None):
        return screen.Shot(self.display, save_as=SHOTS / save_as if save_as else None)


class DpiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.d = DpiDisplay()

    @classmethod
    def tearDownClass(cls):
        cls.d.close()

    def driver(self, *args):
        rc, out = self.d.wine(vel.BUILD / "traydriver.exe", *args)
        return rc, out.split()

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
            rc, menu = self.driver("find", 20000)
            self.assertEqual(rc, 0, "no tray form")
            self.driver("post", menu[0], WM_MOUSEMOVE, 0, WM_RBUTTONDOWN)
            self.assertEqual(self.driver("menu", 10000)[0], 0, "no pop-up menu")
            self.driver("key", VK_DOWN, VK_DOWN, VK_RETURN)
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
            self.driver("post", self.dialog(menu[0]), WM_CLOSE, 0, 0)
        finally:
            self.driver("end", "C:\\dpi-app\\velBox.exe", 20000)
            try:
                client.wait(15)
            except subprocess.TimeoutExpired:
                client.kill()

    def dialog(self, menu):
        rc, main = self.driver("main", menu)
        rc, out = self.d.wine(vel.BUILD / "traydriver.exe", "shown", menu)
        for line in out.splitlines():
            parts = line.split()
            if parts and parts[0] != (main[0] if main else None):
                return parts[0]
        return "0"


if __name__ == "__main__":
    unittest.main()
