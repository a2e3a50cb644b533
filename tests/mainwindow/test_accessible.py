"""What a screen reader finds of the skinned windows of a running velBox.exe
under Wine (harness display, 1280 x 1024, 96 dpi): traydriver.exe asks
oleacc in a process of its own (AccessibleObjectFromPoint) for the control
at each point, its name, role, place and state, and carries out its default
action (accDoDefaultAction), which does what a click does."""
import time
import unittest

from tests.settings import test_settings as dialog_e2e
from tests.support import vel

ROLE_CLIENT, ROLE_PUSHBUTTON, ROLE_CHECKBUTTON = 10, 43, 44
STATE_UNAVAILABLE, STATE_HOTTRACKED = 0x1, 0x80
# The main window and the dialog as they are centred on the screen.
MAIN_LEFT, MAIN_TOP = dialog_e2e.MAIN_LEFT, dialog_e2e.MAIN_TOP
LEFT, TOP = dialog_e2e.LEFT, dialog_e2e.TOP
xdo, click, driver, dialog_shown, config = (dialog_e2e.xdo, dialog_e2e.click, dialog_e2e.driver,
                                            dialog_e2e.dialog_shown, dialog_e2e.config)


def acc(x, y):
    """(name, role, (left, top, width, height), state, default action) at the
    screen point, or None when oleacc found nothing."""
    rc, out = driver("acc", x, y)
    parts = out.rstrip("\r\n").split("\t")
    if rc != 0 or len(parts) != 5:
        return None
    return parts[0], int(parts[1]), tuple(int(v) for v in parts[2].split()), int(parts[3]), parts[4]


def accdo(x, y):
    return driver("accdo", x, y)[0] == 0


class AccessibleSkinTest(unittest.TestCase):
    def setUp(self):
        vel.hosts_reset()
        self.entries = vel.SystemEntries()
        self.app = vel.InstallDir("accessible", quick=True)
        self.app.file("cfg.xml").write_text(
            '<?xml version="1.0" encoding="UTF-8"?>\r\n<config><autorun>0</autorun><closetotray>1</closetotray>'
            '<shortlnk>0</shortlnk><ver>1.0.0</ver></config>\r\n', encoding="utf-8")
        xdo("mousemove", 5, 5)
        self.client = vel.Program(self.app.file("velBox.exe"))
        self.assertTrue(vel.wait_until(dialog_e2e.main_shown, 40, step=0.5), "no main window on the screen")
        rc, menu = driver("find", 20000)
        self.menu = menu.strip()
        self.main = vel.wait_until(lambda: driver("main", self.menu)[1].strip(), 20, step=0.3)
        self.assertTrue(self.main, "no main window")

    def tearDown(self):
        self.client.stop()
        self.entries.restore()
        self.app.remove()

    def open_dialog(self):
        driver("post", self.menu, dialog_e2e.WM_MOUSEMOVE, 0, dialog_e2e.WM_RBUTTONDOWN)
        self.assertEqual(driver("menu", 10000)[0], 0, "no pop-up menu")
        driver("key", dialog_e2e.VK_DOWN, dialog_e2e.VK_DOWN, dialog_e2e.VK_RETURN)
        self.assertTrue(vel.wait_until(dialog_shown, 20, step=0.3), "no settings dialog on the screen")

    def assertButton(self, at, name, place):
        found = vel.wait_until(lambda: acc(*at), 10, step=0.3)
        self.assertIsNotNone(found, f"nothing at {at}")
        self.assertEqual(found[:3], (name, ROLE_PUSHBUTTON, place), found)
        self.assertEqual(found[4], "按下")
        return found

    def state(self, hwnd):
        """exists, visible, iconic as booleans."""
        rc, out = driver("state", hwnd)
        return tuple(v == "1" for v in out.split()[:3])

    def test_the_controls_with_their_names_places_states_and_clicks(self):
        # The caption buttons of the main window.
        close = (MAIN_LEFT + 980, MAIN_TOP + 12)
        minimise = (MAIN_LEFT + 942, MAIN_TOP + 12)
        found = self.assertButton(close, "关闭", (MAIN_LEFT + 962, MAIN_TOP + 2, 36, 20))
        self.assertFalse(found[3] & STATE_HOTTRACKED)
        self.assertButton(minimise, "最小化", (MAIN_LEFT + 924, MAIN_TOP + 2, 36, 20))
        # Under the pointer: hot.
        xdo("mousemove", *close)
        self.assertTrue(vel.wait_until(lambda: (acc(*close) or ("", 0, (), 0))[3] & STATE_HOTTRACKED, 10, step=0.3))
        xdo("mousemove", MAIN_LEFT + 500, MAIN_TOP + 15)
        xdo("mousemove", 5, 5)

        # The dialog's close button, OK and Cancel; the check boxes are the
        # system's own.
        self.open_dialog()
        ok, cancel, dclose = (LEFT + 70, TOP + 228), (LEFT + 198, TOP + 228), (LEFT + 255, TOP + 10)
        self.assertButton(dclose, "关闭", (LEFT + 238, TOP + 2, 36, 20))
        self.assertButton(ok, "确定", (LEFT + 24, TOP + 208, 97, 41))
        self.assertButton(cancel, "取消", (LEFT + 152, TOP + 208, 97, 41))
        # (Wine's standard object gives a check box the role of a plain
        # client area, Windows that of a check box; either way not ours.)
        box = acc(LEFT + 40, TOP + dialog_e2e.BOXES[0])
        self.assertIsNotNone(box)
        self.assertEqual((box[0], box[2]), ("开机自动运行", (LEFT + 32, TOP + 56, 97, 25)))
        self.assertIn(box[1], (ROLE_CHECKBUTTON, ROLE_CLIENT))
        # The main window takes no click while the dialog is open.
        self.assertTrue(acc(*close)[3] & STATE_UNAVAILABLE)
        xdo("mousemove", *ok)
        self.assertTrue(vel.wait_until(lambda: (acc(*ok) or ("", 0, (), 0))[3] & STATE_HOTTRACKED, 10, step=0.3))
        xdo("mousemove", LEFT + 230, TOP + 100)
        xdo("mousemove", 5, 5)

        # OK writes and applies.
        click(LEFT + 38, TOP + dialog_e2e.BOXES[0])
        self.assertTrue(accdo(*ok))
        self.assertTrue(vel.wait_until(lambda: not dialog_shown(), 10, step=0.3), "OK did not close the dialog")
        self.assertEqual(config(self.app), {"autorun": "1", "closetotray": "1", "shortlnk": "0"})
        self.assertEqual(vel.run_value(), ("REG_SZ", f'"{self.app.win("velBox.exe")}" /regstart'))

        # Cancel and the close button close without writing.
        for button in (cancel, dclose):
            self.open_dialog()
            before = self.app.file("cfg.xml").read_bytes()
            click(LEFT + 38, TOP + dialog_e2e.BOXES[0])
            self.assertTrue(accdo(*button))
            self.assertTrue(vel.wait_until(lambda: not dialog_shown(), 10, step=0.3), f"{button} left the dialog")
            time.sleep(0.5)
            self.assertEqual(self.app.file("cfg.xml").read_bytes(), before)
            self.assertIsNotNone(vel.run_value())

        # Minimise, then close, which hides the window to the tray here.
        self.assertTrue(accdo(*minimise))
        self.assertTrue(vel.wait_until(lambda: self.state(self.main)[2], 10, step=0.3), "not minimised")
        driver("post", self.menu, dialog_e2e.WM_MOUSEMOVE, 0, 0x203)  # the icon's double click
        self.assertTrue(vel.wait_until(lambda: self.state(self.main) == (True, True, False), 10, step=0.3))
        self.assertTrue(vel.wait_until(dialog_e2e.main_shown, 10, step=0.3))
        self.assertTrue(accdo(*close))
        self.assertTrue(vel.wait_until(lambda: self.state(self.main) == (True, False, False), 10, step=0.3),
                        "the close button's path did not hide the window")
        self.assertTrue(self.client.running())


if __name__ == "__main__":
    unittest.main()
