"""The settings dialog of a running velBox.exe under Wine on the harness's
virtual display (1280 x 1024): opened from the tray menu's "设置中心", modal
over the main window, its boxes showing cfg.xml; OK changes the file, the Run
value and the desktop shortcut, Cancel changes nothing."""
import subprocess
import time
import unittest

from tests.support import screen, vel

SCREEN_W, SCREEN_H = 1280, 1024
MAIN_LEFT, MAIN_TOP = (SCREEN_W - 1000) // 2, (SCREEN_H - 710) // 2
# The 276 x 267 dialog, centred on the screen.
LEFT, TOP = (SCREEN_W - 276) // 2, (SCREEN_H - 267) // 2
BORDER = (9, 123, 183)
# Check1(i): the middle of its square and of its caption.
BOXES = {0: 56 + 25 // 2, 3: 112 + 17 // 2, 1: 160 + 17 // 2}
OK = (LEFT + 70, TOP + 228)
CANCEL = (LEFT + 198, TOP + 228)
WM_MOUSEMOVE, WM_RBUTTONDOWN = 0x200, 0x204
VK_DOWN, VK_RETURN = 0x28, 0x0D


def Shot(save_as=None):
    return vel.shot(save_as)


def xdo(*args):
    subprocess.run(["xdotool", *map(str, args)], env=vel.wine_env(), timeout=30, check=True)


def click(x, y):
    xdo("mousemove", x, y)
    time.sleep(0.2)
    xdo("click", 1)
    time.sleep(0.2)


def driver(*args):
    return vel.run_wine(str(vel.BUILD / "traydriver.exe"), *map(str, args), timeout=60)


def dialog_shown(s=None):
    s = s or Shot()
    return (s.px(LEFT, TOP + 150) == BORDER and s.px(LEFT + 275, TOP + 150) == BORDER and
            s.px(LEFT + 200, TOP + 266) == BORDER and s.px(LEFT + 200, TOP + 190) == (255, 255, 255))


def main_shown(s=None):
    s = s or Shot()
    return s.px(MAIN_LEFT, MAIN_TOP + 400) == BORDER and s.px(MAIN_LEFT + 500, MAIN_TOP + 709) == BORDER


def checked(s, index):
    """Dark pixels of a tick inside the box's square."""
    y = TOP + BOXES[index]
    return s.dark(LEFT + 32 + 3, y - 3, LEFT + 32 + 11, y + 4) > 4


def config(app):
    text = app.file("cfg.xml").read_text(encoding="utf-8")
    return {k: text.split(f"<{k}>", 1)[1].split(f"</{k}>", 1)[0] for k in ("autorun", "closetotray", "shortlnk")}


class SettingsDialogTest(unittest.TestCase):
    def setUp(self):
        vel.hosts_reset()
        self.entries = vel.SystemEntries()
        self.app = vel.InstallDir("settings")
        self.client = None
        xdo("mousemove", 5, 5)

    def tearDown(self):
        if self.client:
            self.client.stop()
        self.entries.restore()
        self.app.remove()

    def open_from_tray_menu(self):
        rc, menu = driver("find", 20000)
        self.assertEqual(rc, 0, "no tray form")
        menu = menu.strip()
        self.assertEqual(driver("post", menu, WM_MOUSEMOVE, 0, WM_RBUTTONDOWN)[0], 0)
        self.assertEqual(driver("menu", 10000)[0], 0, "no pop-up menu")
        # "显示主窗口", "设置中心", ...
        driver("key", VK_DOWN, VK_DOWN, VK_RETURN)
        self.assertTrue(vel.wait_until(dialog_shown, 20, step=0.3), "no settings dialog on the screen")
        time.sleep(0.5)

    def test_settings_from_the_tray_menu(self):
        self.app.file("cfg.xml").write_text(
            '<?xml version="1.0" encoding="UTF-8"?>\r\n<config><autorun>0</autorun><closetotray>0</closetotray>'
            '<shortlnk>1</shortlnk><ver>1.0.0</ver></config>\r\n', encoding="utf-8")
        self.client = vel.Program(self.app.file("velBox.exe"))
        self.assertTrue(vel.wait_until(main_shown, 40, step=0.5), "no main window on the screen")
        self.assertTrue(vel.wait_until(lambda: vel.titled_desktop_entries() == ["Velmora音乐盒.lnk"], 20))
        self.assertIsNone(vel.run_value("HKCU"))

        self.open_from_tray_menu()
        # The whole screen, not the windows' own pictures: the dialog with
        # its chrome where it was centred, entirely over the main window,
        # and the main window's chrome around it.
        s = Shot("e2e-settings.png")
        self.assertEqual(screen.chrome_faults(s, LEFT, TOP, 276, 267, title_width=64), [])
        self.assertEqual(screen.chrome_faults(s, MAIN_LEFT, MAIN_TOP, 1000, 710, title_width=104), [])
        # The boxes show cfg.xml, their captions dark on white.
        self.assertEqual([checked(s, i) for i in (0, 3, 1)], [False, True, False])
        for i, y in BOXES.items():
            self.assertGreater(s.dark(LEFT + 52, TOP + y - 7, LEFT + 150, TOP + y + 7), 20, i)
        # Both buttons normal: grey outline, light face.
        for left in (LEFT + 24, LEFT + 152):
            self.assertEqual(s.px(left + 48, TOP + 208), (150, 150, 150))

        # Modal: the main window's close button does nothing now (it would
        # end this client, whose close-to-tray is off).
        click(MAIN_LEFT + 980, MAIN_TOP + 12)
        time.sleep(1)
        self.assertTrue(self.client.running())
        self.assertTrue(dialog_shown())

        # The hover picture under the pointer, then a change and OK.
        xdo("mousemove", *OK)
        self.assertTrue(vel.wait_until(lambda: Shot().px(LEFT + 24 + 48, TOP + 208) == BORDER, 5))
        click(LEFT + 38, TOP + BOXES[0])
        click(LEFT + 38, TOP + BOXES[3])
        self.assertEqual([checked(Shot(), i) for i in (0, 3, 1)], [True, False, False])
        self.assertEqual(config(self.app), {"autorun": "0", "closetotray": "0", "shortlnk": "1"})
        click(*OK)
        self.assertTrue(vel.wait_until(lambda: not dialog_shown(), 10, step=0.3), "OK did not close the dialog")
        self.assertEqual(config(self.app), {"autorun": "1", "closetotray": "0", "shortlnk": "0"})
        self.assertEqual(vel.run_value("HKCU"), ("REG_SZ", f'"{self.app.win("velBox.exe")}" /regstart'))
        self.assertEqual(vel.titled_desktop_entries(), [])

        # Opened again it reads the file anew; Cancel writes nothing.
        self.open_from_tray_menu()
        s = Shot("e2e-settings-again.png")
        self.assertEqual([checked(s, i) for i in (0, 3, 1)], [True, False, False])
        before = self.app.file("cfg.xml").read_bytes()
        click(LEFT + 38, TOP + BOXES[1])
        click(LEFT + 38, TOP + BOXES[0])
        click(*CANCEL)
        self.assertTrue(vel.wait_until(lambda: not dialog_shown(), 10, step=0.3), "Cancel did not close the dialog")
        time.sleep(0.5)
        self.assertEqual(self.app.file("cfg.xml").read_bytes(), before)
        self.assertIsNotNone(vel.run_value("HKCU"))
        self.assertEqual(vel.titled_desktop_entries(), [])
        self.assertTrue(self.client.running())


if __name__ == "__main__":
    unittest.main()
