"""velBox.exe under Wine with its tray icon in Wine's notification area. The
tests play the shell (the icon's messages arrive at the window of class
"velBoxMenu" as WM_MOUSEMOVE with the mouse message in lParam, the taskbar
announces itself with "TaskbarCreated") and the installer (message 0x8101)
through tests/tray/traydriver.exe, and look at the icon, the balloon and the
windows from outside; so do other programs that close it and the session's end."""
import subprocess
import time
import unittest

from tests.support import vel

DRIVER = vel.BUILD / "traydriver.exe"
ICON_ID = 88888
WM_MOUSEMOVE = 0x200
WM_CLOSE = 0x10
WM_ENDSESSION, ENDSESSION_LOGOFF = 0x16, 0x80000000
DOUBLE_CLICK, RIGHT_PRESS = 0x203, 0x204
EXIT_REQUEST = 0x8101
VK_DOWN, VK_UP, VK_RETURN, VK_ESCAPE, VK_TAB, VK_SPACE = 0x28, 0x26, 0x0D, 0x1B, 0x09, 0x20


def cfg(closetotray, shortlnk=""):
    # An empty autorun leaves the Run value alone.
    return ("<config><autorun></autorun><shortlnk>{}</shortlnk><closetotray>{}</closetotray>"
            "<ver>{}</ver></config>").format(shortlnk, closetotray, vel.VERSION).encode()


# Commands that only look and always print a line when they ran.
QUERIES = {"state", "icon", "foreground"}


def drive(*args, timeout=30):
    """(exit code, output lines) of one driver command. A query that printed
    nothing did not run (a Wine process start that failed under load) and
    is asked again."""
    for _ in range(3):
        rc, out = vel.run_wine(str(DRIVER), *map(str, args), timeout=timeout)
        if args[0] not in QUERIES or out.split():
            break
    return rc, out.split()


def click(x, y):
    env = vel.wine_env()
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], env=env, timeout=30, check=True)
    time.sleep(0.3)
    subprocess.run(["xdotool", "click", "1"], env=env, timeout=30, check=True)
    subprocess.run(["xdotool", "mousemove", "5", "5"], env=env, timeout=30, check=True)


# The close button of the 1000 x 710 window centred on the 1280 x 1024
# virtual screen.
CLOSE_BUTTON = ((1280 - 1000) // 2 + 980, (1024 - 710) // 2 + 12)


def music_paths():
    return [e["path"] for e in vel.hosts_log("music") if e["method"] == "GET"]


class TrayTest(unittest.TestCase):
    def setUp(self):
        # Every start enforces the options: the Run value and the shortcut.
        self.entries = vel.SystemEntries()
        vel.hosts_reset()
        self.app = vel.InstallDir("tray")
        self.cfg = self.app.file("cfg.xml")
        self.prog = None

    def tearDown(self):
        if self.prog:
            self.prog.stop()
        self.entries.restore()
        self.app.remove()

    # --- the client as the shell and the tests see it ------------------------

    def start(self, *args, config=None):
        if config is not None:
            self.cfg.write_bytes(config)
        self.prog = vel.Program(self.app.file("velBox.exe"), *args)
        rc, out = drive("find", 30000)
        self.assertEqual(rc, 0, "no window of class velBoxMenu")
        self.menu = out[0]
        rc, out = drive("main", self.menu)
        self.assertEqual(rc, 0, "no hooked main window")
        self.main = out[0]

    def state(self):
        """(exists, visible, minimised) of the main window."""
        _, out = drive("state", self.main)
        exists, visible, iconic, _ = (v == "1" for v in out)
        return exists, visible, iconic

    def wait_state(self, want, timeout=10):
        return vel.wait_until(lambda: self.state() == want, timeout, step=0.3)

    def tray(self, mouse_message):
        rc, _ = drive("send", self.menu, WM_MOUSEMOVE, ICON_ID, mouse_message)
        self.assertEqual(rc, 0)

    def icon_there(self):
        _, out = drive("icon", self.menu, ICON_ID)
        return out == ["1"]

    def ended(self, timeout=30):
        try:
            self.prog.wait(timeout)
        except Exception:
            return False
        return True

    def assertEndedCleanly(self, cfg_before):
        """Ended as by the tray's exit: its icon gone, cfg.xml as it was."""
        self.assertTrue(self.ended(), "the client still runs")
        self.assertFalse(self.icon_there())
        self.assertEqual(self.cfg.read_bytes(), cfg_before)

    def start_hidden(self, config=None):
        self.start("/regstart", config=config)
        # Shown by the start, hidden again at its first activation (which
        # follows the showing at once).
        self.assertTrue(self.wait_state((True, False, False), 30), self.state())
        time.sleep(2)
        self.assertEqual(self.state(), (True, False, False))

    def start_shown(self, config):
        self.start(config=config)
        self.assertTrue(self.wait_state((True, True, False), 30), self.state())
        self.assertTrue(vel.wait_until(lambda: "/" in music_paths(), 20), vel.hosts_log())
        # The clicks on its close button go to the window on top.
        self.assertTrue(vel.wait_until(lambda: drive("foreground")[1][:1] == [self.main], 20, step=0.3),
                        "the main window is not in the foreground")

    # --- start ---------------------------------------------------------------

    def test_a_hidden_start_shows_only_the_icon_and_its_balloon(self):
        began = time.time()
        self.start_hidden()  # first start: cfg.xml with its defaults
        self.assertTrue(vel.wait_until(self.icon_there, 10, step=0.3), "Wine's notification area does not know the icon")
        rc, _ = drive("balloon", 10000)
        self.assertEqual(rc, 0, "no balloon")
        shown = [line for line in vel.run_wine(str(DRIVER), "shown", self.menu)[1].splitlines() if line]
        self.assertEqual(shown, [], "the client shows a window")
        gone = vel.wait_until(lambda: drive("balloon", 0)[0] == 1, 30, step=0.5)
        self.assertTrue(gone, "the balloon stays")
        print(f"balloon gone {time.time() - began:.1f} s after the start")
        self.assertEqual(music_paths(), [])
        self.assertTrue(self.prog.running())

    # --- show command --------------------------------------------------------

    def test_first_double_click_opens_without_playback_then_toggles(self):
        self.start_hidden(cfg("1"))
        self.tray(DOUBLE_CLICK)
        self.assertTrue(self.wait_state((True, True, False)), self.state())
        self.assertTrue(vel.wait_until(lambda: "/?autoplay=0" in music_paths(), 20), vel.hosts_log())
        self.tray(DOUBLE_CLICK)
        self.assertTrue(self.wait_state((True, True, True)), self.state())
        self.tray(DOUBLE_CLICK)
        self.assertTrue(self.wait_state((True, True, False)), self.state())
        time.sleep(2)
        self.assertEqual(music_paths(), ["/?autoplay=0"])

    def test_clicks_releases_moves_and_balloon_notices_do_nothing_and_the_session_end_ends_it(self):
        self.start_hidden(cfg("1"))
        before = self.cfg.read_bytes()
        for m in (0x200, 0x201, 0x202, 0x205, 0x206, 0x207, 0x208, 0x402, 0x403, 0x404, 0x405):
            self.tray(m)
            self.assertEqual(drive("menu", 0)[0], 1, f"a menu for {m:#x}")
        # A session that goes on after all changes nothing.
        self.assertEqual(drive("send", self.menu, WM_ENDSESSION, 0, ENDSESSION_LOGOFF), (0, ["0"]))
        time.sleep(1)
        self.assertEqual(self.state(), (True, False, False))
        self.assertEqual(music_paths(), [])
        self.assertTrue(self.prog.running())
        # The session ends: the client has ended when it answers.
        self.assertEqual(drive("send", self.main, WM_ENDSESSION, 1, ENDSESSION_LOGOFF), (0, ["0"]))
        self.assertEndedCleanly(before)

    # --- the menu ------------------------------------------------------------

    def open_menu(self):
        rc, _ = drive("post", self.menu, WM_MOUSEMOVE, ICON_ID, RIGHT_PRESS)
        self.assertEqual(rc, 0)
        rc, _ = drive("menu", 5000)
        self.assertEqual(rc, 0, "no pop-up menu")

    def choose(self, *keys):
        self.open_menu()
        drive("key", *keys)
        self.assertTrue(vel.wait_until(lambda: drive("menu", 0)[0] == 1, 5), "the menu stays")

    def test_menu_show_settings_and_exit(self):
        self.start_hidden(cfg("1"))
        self.open_menu()
        drive("key", VK_ESCAPE)
        self.assertTrue(vel.wait_until(lambda: drive("menu", 0)[0] == 1, 5))
        self.assertEqual(self.state(), (True, False, False))

        # "显示主窗口", the first item.
        self.choose(VK_DOWN, VK_RETURN)
        self.assertTrue(self.wait_state((True, True, False)), self.state())
        self.assertTrue(vel.wait_until(lambda: "/?autoplay=0" in music_paths(), 20), vel.hosts_log())

        # "设置中心": the dialog opens, modal; the show command leaves the
        # main window alone meanwhile.
        self.choose(VK_DOWN, VK_DOWN, VK_RETURN)

        def dialog():
            for line in vel.run_wine(str(DRIVER), "shown", self.menu)[1].splitlines():
                parts = line.split()
                if parts and parts[0] not in (self.main, self.menu):
                    return parts[0]
            return None
        shown = vel.wait_until(dialog, 10)
        self.assertTrue(shown, "no settings dialog")
        self.tray(DOUBLE_CLICK)
        time.sleep(0.5)
        self.assertEqual(self.state(), (True, True, False))
        # By the keyboard: the first box changed, past the boxes and OK to
        # Cancel, Enter: nothing written. The main window is active again.
        before = self.cfg.read_bytes()
        self.assertEqual(drive("keys", self.menu, VK_SPACE, VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_RETURN)[0], 0)
        self.assertTrue(vel.wait_until(lambda: dialog() is None, 10))
        self.assertTrue(vel.wait_until(lambda: drive("foreground")[1][:1] == [self.main], 10, step=0.3),
                        drive("foreground"))
        self.assertEqual(self.cfg.read_bytes(), before)
        self.assertTrue(self.prog.running())

        # "退出程序", the last item: ends the client although close-to-tray
        # is on, and leaves the file as it is.
        self.choose(VK_UP, VK_RETURN)
        self.assertEndedCleanly(before)
        self.assertIn(b"<closetotray>1</closetotray>", before)

    # --- close command -------------------------------------------------------

    def test_close_with_close_to_tray_hides_and_the_icon_brings_it_back(self):
        self.start_shown(cfg("1"))
        click(*CLOSE_BUTTON)
        self.assertTrue(self.wait_state((True, False, False)), self.state())
        time.sleep(1)
        self.assertTrue(self.prog.running())
        self.assertTrue(self.icon_there())
        self.tray(DOUBLE_CLICK)
        self.assertTrue(self.wait_state((True, True, False)), self.state())
        time.sleep(1)
        self.assertEqual(music_paths(), ["/"], "the same page, not opened again")
        # A close from outside ("End task"): the client ends, close-to-tray
        # or not.
        before = self.cfg.read_bytes()
        drive("post", self.main, WM_CLOSE, 0, 0)
        self.assertEndedCleanly(before)

    def test_close_without_close_to_tray_ends_the_client_and_takes_the_icon(self):
        self.start_shown(cfg("0", shortlnk="1"))
        link = vel.desktop() / (vel.APP_TITLE + ".lnk")
        self.assertTrue(vel.wait_until(link.exists, 10), vel.titled_desktop_entries())
        self.assertTrue(self.icon_there())
        # The settings dialog, loaded on the way out, enforces the options
        # once more: the shortcut comes back.
        link.unlink()
        click(*CLOSE_BUTTON)
        self.assertTrue(self.ended(), "the client still runs")
        self.assertFalse(self.icon_there())
        self.assertEqual(drive("find", 0)[0], 1)
        self.assertTrue(link.exists(), "the dialog was not loaded on the way out")

    # --- shell and installer -------------------------------------------------

    def test_a_new_taskbar_gets_the_icon_back_without_a_balloon(self):
        self.start_hidden(cfg("1"))
        self.assertTrue(vel.wait_until(lambda: drive("balloon", 0)[0] == 1, 30, step=0.5))
        drive("drop", self.menu, ICON_ID)
        self.assertFalse(self.icon_there())
        # The shell broadcasts it to every top-level window.
        drive("post", 0xFFFF, "TaskbarCreated", 0, 0)
        self.assertTrue(vel.wait_until(self.icon_there, 10), "the icon did not come back")
        self.assertEqual(drive("balloon", 3000)[0], 1, "the balloon came again")
        # taskkill without /F: a close to every window; the icon goes too.
        before = self.cfg.read_bytes()
        drive("closeall", self.menu)
        self.assertEndedCleanly(before)

    def test_the_installers_request_ends_the_client_cleanly(self):
        self.start_hidden(cfg("1"))
        before = self.cfg.read_bytes()
        rc, out = drive("send", self.menu, EXIT_REQUEST, 0, 0)
        self.assertEqual((rc, out), (0, ["1"]))
        self.assertEndedCleanly(before)


if __name__ == "__main__":
    unittest.main()
