"""A Wine world of a test's own, apart from the harness's: a virtual display
of a given size, a prefix (a copy of the harness's first one, made once) whose
settings the test may change (LogPixels, the colour scheme), its own
wineserver and notification area. The harness's stand-in hosts still serve
the pages."""
import os
import subprocess
from pathlib import Path

from tests.support import screen, vel

SHOTS = vel.BUILD / "screenshots"
WM_MOUSEMOVE, WM_RBUTTONDOWN = 0x200, 0x204
VK_DOWN, VK_RETURN = 0x28, 0x0D


UNINSTALL_KEY = r"\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora音乐盒"


class OwnDisplay:
    """Virtual display of width x height, prefix, wineserver and notification
    area of a test, kept in `folder` (its prefix is folder/wineprefix)."""

    def __init__(self, folder, width, height):
        self.folder = Path(folder)
        self.prefix = self.folder / "wineprefix"
        (self.folder / "harness").mkdir(parents=True, exist_ok=True)
        # Another test may be making a display of its own at the same time:
        # the number is ours once our server holds it.
        n = 120
        while True:
            while Path(f"/tmp/.X11-unix/X{n}").exists() or Path(f"/tmp/.X{n}-lock").exists():
                n += 1
            self.xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp"],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL, start_new_session=True)
            vel.wait_until(lambda: self.xvfb.poll() is not None or Path(f"/tmp/.X11-unix/X{n}").exists(), 10)
            if self.xvfb.poll() is None:
                break
            n += 1
        self.display = f":{n}"
        (self.folder / "harness" / "lane0.env").write_text(f"export DISPLAY={self.display}\n")
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all", LC_ALL="zh_CN.UTF-8",
                        WINEARCH="win64", DISPLAY=self.display,
                        WINEDLLOVERRIDES="mscoree=;winemenubuilder.exe=d")
        # A copy of the harness's first prefix, made once (seconds, not a
        # wineboot); its own lane number is 0, the only one it has.
        subprocess.run([str(vel.ROOT / "tools" / "wine-prefix.sh"), str(self.folder)],
                       env=dict(self.env, VELBOX_LANE="0", VELBOX_PREFIX_TEMPLATE=str(vel.BUILD / "wineprefix")),
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=600, check=True)
        self.keeper = None
        self.server = None

    def wine(self, *args, timeout=120, env=None):
        rc, out, _ = vel.run_to_end(["wine", *map(str, args)], dict(self.env, **(env or {})), timeout)
        return rc, out.decode("utf-8", "replace")

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
        # The prefix is a copy of the harness's, taken while its tests ran:
        # an installation's uninstall key caught in it would have the client
        # wait for the first-start notice at each start here.
        for root in ("HKCU", "HKLM"):
            self.wine("reg", "delete", root + UNINSTALL_KEY, "/f", "/reg:32")
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
        ready = self.folder / "harness" / "shell.ready"
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
        (self.folder / "harness" / "lane0.env").unlink(missing_ok=True)

    def shot(self, save_as=None):
        return screen.Shot(self.display, save_as=SHOTS / save_as if save_as else None)

    # --- the client, through tests/tray/traydriver.exe ------------------------

    def driver(self, *args):
        """(exit code, words of the output) of a traydriver command."""
        rc, out = self.wine(vel.BUILD / "traydriver.exe", *args)
        return rc, out.split()

    def open_settings(self):
        """Chooses "设置中心" in the running client's tray menu; its tray form."""
        rc, menu = self.driver("find", 20000)
        assert rc == 0 and menu, "no tray form"
        self.driver("post", menu[0], WM_MOUSEMOVE, 0, WM_RBUTTONDOWN)
        assert self.driver("menu", 10000)[0] == 0, "no pop-up menu"
        self.driver("key", VK_DOWN, VK_DOWN, VK_RETURN)
        return menu[0]

    def dialog(self, menu):
        """The client's shown window other than its main window: the dialog."""
        rc, main = self.driver("main", menu)
        rc, out = self.wine(vel.BUILD / "traydriver.exe", "shown", menu)
        for line in out.splitlines():
            parts = line.split()
            if parts and parts[0] != (main[0] if main else None):
                return parts[0]
        return "0"

    def rect(self, hwnd):
        """(left, top, right, bottom) of a window, or None."""
        rc, out = self.driver("rect", hwnd)
        return tuple(int(v) for v in out) if rc == 0 and len(out) == 4 else None
