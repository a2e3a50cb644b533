"""velBox.exe under Wine on the harness's virtual display (1280 x 1024): the
skinned main window as it appears on the screen, dragging, closing, the
"/regstart" switch and the single instance."""
import os
import subprocess
import time
import unittest

from tests.support import screen, vel

SCREEN_W, SCREEN_H = 1280, 1024
# Centred 1000 x 710 window.
LEFT, TOP = (SCREEN_W - 1000) // 2, (SCREEN_H - 710) // 2
BORDER = (9, 123, 183)


def x_env():
    return vel.wine_env()


def Shot(save_as=None):
    return vel.shot(save_as)


def xdo(*args):
    subprocess.run(["xdotool", *map(str, args)], env=x_env(), timeout=30, check=True)


def window_at(left, top):
    """True when the screen shows the window's left and bottom border there."""
    s = Shot()
    return s.px(left, top + 400) == BORDER and s.px(left + 500, top + 709) == BORDER


DRIVER = vel.BUILD / "traydriver.exe"


def driver(*args):
    rc, out = vel.run_wine(str(DRIVER), *map(str, args))
    return rc, out.split()


def main_window():
    """The client's main window (through its tray form), or None."""
    rc, menu = driver("find", 0)
    if rc != 0 or not menu:
        return None
    rc, main = driver("main", menu[0])
    return main[0] if rc == 0 and main else None


def foreground():
    rc, out = driver("foreground")
    return out[0] if rc == 0 and out else None


def music_gets():
    return [e for e in vel.hosts_log("music") if e["method"] == "GET"]


class MainWindowTest(unittest.TestCase):
    def setUp(self):
        vel.hosts_reset()
        self.app = vel.InstallDir("mainwindow")
        # Options of its own: no log-on start value or desktop shortcut left
        # behind for the tests that come after.
        self.app.file("cfg.xml").write_bytes(
            b"<config><autorun>0</autorun><shortlnk>0</shortlnk><closetotray>1</closetotray></config>")
        self.progs = []
        # The pointer starts away from the window.
        xdo("mousemove", 5, 5)

    def tearDown(self):
        for p in self.progs:
            p.stop()
        self.app.remove()

    def start(self, *args):
        p = vel.Program(self.app.file("velBox.exe"), *args)
        self.progs.append(p)
        return p

    def start_shown(self):
        p = self.start()
        self.assertTrue(vel.wait_until(lambda: window_at(LEFT, TOP), 40, step=0.5), "no window on the screen")
        # Mouse and keys act on the window only once it is the active one.
        self.main = vel.wait_until(main_window, 20, step=0.3)
        self.assertTrue(self.main, "no main window")
        self.assert_foreground()
        return p

    def assert_foreground(self):
        self.assertTrue(vel.wait_until(lambda: foreground() == self.main, 20, step=0.3),
                        f"the main window is not in the foreground: {foreground()} {self.main}")

    def test_normal_start_shows_the_chrome_and_opens_the_home_address(self):
        self.start_shown()
        self.assertTrue(vel.wait_until(lambda: [e for e in music_gets() if e["path"] == "/"], 20),
                        vel.hosts_log())
        s = Shot("e2e-mainwindow.png")
        self.assertEqual(screen.chrome_faults(s, LEFT, TOP, 1000, 710, title_width=104), [])
        self.assertEqual(s.px(LEFT + 1, TOP + 300), (255, 255, 255))
        self.assertEqual(s.px(LEFT - 1, TOP + 300), (0, 0, 0))  # the bare screen outside
        # Beside the close button the minimise button: blue with a white bar.
        m = s.px(LEFT + 927, TOP + 5)
        self.assertGreater(m[2], m[0] + 100)
        self.assertEqual(s.px(LEFT + 942, TOP + 15), (255, 255, 255))

    def test_only_a_left_drag_on_the_title_strip_moves_the_window(self):
        self.start_shown()
        # Right button on the strip.
        xdo("mousemove", LEFT + 300, TOP + 15)
        xdo("mousedown", 3)
        xdo("mousemove", LEFT + 400, TOP + 65)
        xdo("mouseup", 3)
        time.sleep(0.5)
        self.assertTrue(window_at(LEFT, TOP), "a right drag moved the window")
        # Left press on the minimise button, released elsewhere.
        xdo("mousemove", LEFT + 940, TOP + 10)
        xdo("mousedown", 1)
        for i in range(1, 6):
            xdo("mousemove", LEFT + 940 - 40 * i, TOP + 10 + 20 * i)
        xdo("mouseup", 1)
        time.sleep(0.5)
        self.assertTrue(window_at(LEFT, TOP), "a press on a caption button moved or minimised the window")
        self.assert_foreground()
        # Left drag on the strip.
        xdo("mousemove", LEFT + 300, TOP + 15)
        xdo("mousedown", 1)
        for i in range(1, 11):
            xdo("mousemove", LEFT + 300 + 10 * i, TOP + 15 + 5 * i)
            time.sleep(0.05)
        xdo("mouseup", 1)
        moved = vel.wait_until(lambda: window_at(LEFT + 100, TOP + 50), 10, step=0.3)
        Shot("e2e-mainwindow-dragged.png")
        self.assertTrue(moved, "the window did not follow a left drag of its title strip")

    def close_ends_the_client(self):
        # With close-to-tray on, closing only hides the window.
        self.app.file("cfg.xml").write_bytes(
            b"<config><autorun></autorun><shortlnk></shortlnk><closetotray>0</closetotray>"
            b"<ver>" + vel.VERSION.encode() + b"</ver></config>")

    def test_close_button_ends_the_client(self):
        self.close_ends_the_client()
        p = self.start_shown()
        xdo("mousemove", LEFT + 980, TOP + 12)
        time.sleep(0.3)
        xdo("click", 1)
        p.wait(30)

    def test_alt_f4_ends_the_client(self):
        self.close_ends_the_client()
        p = self.start_shown()
        # The virtual display's keyboard focus follows the pointer.
        xdo("mousemove", LEFT + 500, TOP + 15)
        time.sleep(0.3)
        xdo("click", 1)
        self.assert_foreground()
        xdo("key", "alt+F4")
        p.wait(30)

    def test_regstart_hides_the_window_and_opens_nothing(self):
        p = self.start("/regstart")
        # Never on the screen, not even for a moment.
        mapped = screen.mapped_sizes(8, vel.wine_env()["DISPLAY"])
        self.assertNotIn((1000, 710), mapped)
        self.assertTrue(p.running())
        self.assertFalse(window_at(LEFT, TOP), "the window is on the screen")
        self.assertEqual(music_gets(), [])

    def test_regstart_in_other_letters_is_not_the_switch(self):
        self.start("/REGSTART")
        self.assertTrue(vel.wait_until(lambda: window_at(LEFT, TOP), 40, step=0.5))
        self.assertTrue(vel.wait_until(lambda: [e for e in music_gets() if e["path"] == "/"], 20))

    def test_a_second_instance_ends_at_once_and_the_first_keeps_running(self):
        first = self.start_shown()
        self.assertTrue(vel.wait_until(lambda: music_gets(), 20))
        began = time.time()
        second = self.start()
        second.wait(30)
        took = time.time() - began
        time.sleep(2)
        self.assertTrue(first.running())
        self.assertEqual(len([e for e in music_gets() if e["path"] == "/"]), 1)
        self.assertTrue(window_at(LEFT, TOP))
        print(f"second instance ended after {took:.1f} s")


if __name__ == "__main__":
    unittest.main()
