"""The page hosted in the main window, under Wine with the real browser
control and the quick client's test-only commands (client/testcommands.h,
driven through tests/tray/traydriver.exe): addresses elsewhere, also where a
redirect led, go to the default browser (a stand-in registered in the prefix
records what it was started with) or nowhere, the engine's restrictions are
on in the running client, and the keyboard focus is in the page whenever the
window is shown."""
import subprocess
import unittest

from tests.support import vel

DRIVER = vel.BUILD / "traydriver.exe"
STAND_IN = vel.BUILD / "velTestUpdater.exe"  # records how it was started
ICON_ID = 88888
WM_MOUSEMOVE, WM_SYSCOMMAND, SC_CLOSE, DOUBLE_CLICK = 0x200, 0x112, 0xF060, 0x203
MUSIC = "http://" + vel.HOSTS["music"]
WEB = "http://" + vel.HOSTS["web"]
# The quick client's test-only commands.
FEATURE_ON, NAVIGATE, KEYS_OFFERED, AT = 1, 2, 3, 4
# The engine's switches the client turns on (INTERNETFEATURELIST), and one it
# leaves as it is, so the reading is seen to tell on from off.
HARDENING = {
    "FEATURE_ZONE_ELEVATION": 1,
    "FEATURE_MIME_HANDLING": 2,
    "FEATURE_MIME_SNIFFING": 3,
    "FEATURE_WINDOW_RESTRICTIONS": 4,
    "FEATURE_WEBOC_POPUPMANAGEMENT": 5,
    "FEATURE_DISABLE_MK_PROTOCOL": 7,
    "FEATURE_LOCALMACHINE_LOCKDOWN": 8,
    "FEATURE_RESTRICT_ACTIVEXINSTALL": 10,
    "FEATURE_VALIDATE_NAVIGATE_URL": 11,
    "FEATURE_RESTRICT_FILEDOWNLOAD": 12,
    "FEATURE_HTTP_USERNAME_PASSWORD_DISABLE": 15,
    "FEATURE_SAFE_BINDTOOBJECT": 16,
}
LEFT_AS_IT_IS = 19  # FEATURE_TABBED_BROWSING
# Close to tray, so the close command hides; the other options untouched.
CONFIG = ("<config><autorun></autorun><shortlnk></shortlnk><closetotray>1</closetotray>"
          "<ver>{}</ver></config>").format(vel.VERSION).encode()


def drive(*args):
    """Output words of one driver command; one that printed nothing did not
    run (a Wine process start that failed under load) and is run again."""
    for _ in range(3):
        rc, out = vel.run_wine(str(DRIVER), *map(str, args), timeout=60)
        if out.split():
            return out.split()
    return []


def command(number, argument=""):
    out = drive("test", number, argument) if argument else drive("test", number)
    return int(out[0]) if out and out[0].lstrip("-").isdigit() else None


def xdo(*args):
    subprocess.run(["xdotool", *map(str, args)], env=vel.wine_env(), timeout=30, check=True)


def music_paths():
    return [e["path"] for e in vel.hosts_log("music") if e["method"] == "GET"]


class DefaultBrowser:
    """A stand-in for the user's default browser: the shell's open command
    for http and https (the prefix's HKEY_CLASSES_ROOT, which Wine's shell
    reads) starts a copy of velTestUpdater.exe that records its command
    line; restore() puts the prefix's own command back."""

    KEYS = [rf"HKLM\Software\Classes\{scheme}\shell\open\command" for scheme in ("http", "https")]

    def __init__(self, folder):
        self.exe = folder.file("browser.exe")
        self.exe.write_bytes(STAND_IN.read_bytes())
        self.log = folder.file("browser.exe.ran")
        self.before = {key: self.command(key) for key in self.KEYS}
        for key in self.KEYS:
            self.set(key, f'"{folder.win("browser.exe")}" "%1"')

    @staticmethod
    def command(key):
        rc, out = vel.reg("query", key, "/ve")
        for line in out.splitlines():
            if "REG_SZ" in line:
                return line.split("REG_SZ", 1)[1].strip()
        return None

    @staticmethod
    def set(key, value):
        vel.reg("add", key, "/ve", "/d", value, "/f")

    def opened(self):
        """The addresses it was started with, in order."""
        if not self.log.exists():
            return []
        return [line.split("\t", 3)[3].rsplit('" "', 1)[-1].rstrip('"\r')
                for line in self.log.read_text(encoding="utf-8").splitlines() if line.count("\t") >= 3]

    def restore(self):
        for key, value in self.before.items():
            if value is not None:
                self.set(key, value)


class HostedPageTest(unittest.TestCase):
    def setUp(self):
        vel.hosts_reset()
        self.app = vel.InstallDir("hostedpage", quick=True)
        self.app.file("cfg.xml").write_bytes(CONFIG)
        self.browser = DefaultBrowser(self.app)
        self.prog = None

    def tearDown(self):
        if self.prog:
            self.prog.stop()
        self.browser.restore()
        self.app.remove()

    def start(self):
        self.prog = vel.Program(self.app.file("velBox.exe"))
        out = drive("find", 30000)
        self.assertTrue(out, "no window of class velBoxMenu")
        self.menu = out[0]
        self.main = drive("main", self.menu)[0]
        self.assertTrue(vel.wait_until(lambda: "/" in music_paths(), 30), vel.hosts_log())

    def state(self):
        """(visible, minimised) of the main window."""
        out = drive("state", self.main)
        return out[1] == "1", out[2] == "1"

    def focus_in_page(self):
        out = drive("focus", self.main)  # the class may hold spaces
        return len(out) >= 3 and out[-1] == "1"

    def test_other_hosts_and_redirects_go_to_the_default_browser_and_files_nowhere(self):
        self.start()
        self.assertEqual(command(AT, MUSIC + "/"), 1)
        # Another host: cancelled, the window stays at the site, and the
        # address goes to the shell.
        elsewhere = WEB + "/elsewhere?from=page"
        self.assertEqual(command(NAVIGATE, elsewhere), 0)
        self.assertTrue(vel.wait_until(lambda: self.browser.opened() == [elsewhere], 30),
                        self.browser.opened())
        self.assertEqual(command(AT, MUSIC + "/"), 1)
        # A local file: refused, not handed on. The navigations after it run
        # in order, so once the shell has the next address the file's was
        # decided; had it been followed, the window would be at the file
        # now (the cancelled one after it leaves the window where it is).
        self.app.file("secret.html").write_text("<p>local</p>")
        self.assertEqual(command(NAVIGATE, "file:///" + self.app.win("secret.html").replace("\\", "/")), 0)
        after = WEB + "/after-the-file"
        self.assertEqual(command(NAVIGATE, after), 0)
        self.assertTrue(vel.wait_until(lambda: self.browser.opened() == [elsewhere, after], 30),
                        self.browser.opened())
        self.assertEqual(command(AT, MUSIC + "/"), 1, "the window left the site")
        # The client itself asked the other host for nothing.
        self.assertEqual(vel.hosts_log("web"), [])
        self.assertEqual(music_paths(), ["/"])

        # The music host's home now redirects to another host, which raises
        # no BeforeNavigate2: the client's own address leaves the window on
        # the blank page and the other address at the default browser once,
        # as the server sent it.
        landing = WEB + "/landing?q=%E4%B9%90%20box"
        vel.hosts_route(path="/", host="music", status=302, headers={"Location": landing})
        self.assertEqual(command(NAVIGATE, MUSIC + "/"), 0)
        self.assertTrue(vel.wait_until(lambda: command(AT, "about:blank") == 1, 30), "not on the blank page")
        marker = WEB + "/after-the-redirect"
        self.assertEqual(command(NAVIGATE, marker), 0)
        self.assertTrue(vel.wait_until(lambda: self.browser.opened()[2:] == [landing, marker], 30),
                        self.browser.opened())
        # The tray's show command tries the site again, without autoplay.
        vel.hosts_reset()
        drive("send", self.menu, WM_MOUSEMOVE, ICON_ID, DOUBLE_CLICK)
        self.assertTrue(vel.wait_until(lambda: command(AT, MUSIC + "/?autoplay=0") == 1, 30), music_paths())

        # The engine's restrictions are on in the running client.
        off = [name for name, number in HARDENING.items() if command(FEATURE_ON, number) != 1]
        self.assertEqual(off, [], "switches not on in the client's process")
        self.assertEqual(command(FEATURE_ON, LEFT_AS_IT_IS), 0)
        # The commands are the quick build's alone.
        name = "velBoxTestCommands".encode("utf-16-le")
        self.assertIn(name, (vel.QUICK / "velBox.exe").read_bytes())
        self.assertNotIn(name, (vel.BUILD / "velBox.exe").read_bytes())

    def assert_keys_reach_the_page(self, shown_by):
        self.assertTrue(vel.wait_until(lambda: self.state() == (True, False), 20), self.state())
        self.assertTrue(vel.wait_until(self.focus_in_page, 20), f"{shown_by}: {drive('focus', self.main)}")
        before = command(KEYS_OFFERED)
        # The virtual display's keyboard focus follows the pointer.
        xdo("mousemove", 640, 500)
        xdo("key", "Tab")
        xdo("mousemove", 5, 5)
        self.assertTrue(vel.wait_until(lambda: command(KEYS_OFFERED) > before, 20),
                        f"{shown_by}: no key reached the control")

    def test_keys_reach_the_page_after_each_show(self):
        self.start()
        self.assert_keys_reach_the_page("after the start")
        # Closed to the tray, then shown by the icon's double click.
        drive("send", self.main, WM_SYSCOMMAND, SC_CLOSE, 0)
        self.assertTrue(vel.wait_until(lambda: self.state() == (False, False), 20), self.state())
        drive("send", self.menu, WM_MOUSEMOVE, ICON_ID, DOUBLE_CLICK)
        self.assert_keys_reach_the_page("after the tray's show command")


if __name__ == "__main__":
    unittest.main()
