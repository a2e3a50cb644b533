"""The product as a standard Windows user meets it. Wine runs as an
unprivileged Unix identity (tools/unprivileged.sh: the system's `nobody`,
no capabilities and no way to gain any, a prefix of its own whose "Program
Files" folders belong to root and are read-only, so Wine answers
ERROR_ACCESS_DENIED there as Windows does for a standard user), on the
harness's display and against its stand-in hosts.

As that user: the silent install puts everything in the user's profile and
nothing machine-wide; the client creates cfg.xml, and OK in the settings
dialog writes and applies; the whole update cycle runs; the silent
uninstall leaves nothing. A copy of the programs in the read-only Program
Files folder starts, shows its window and tray icon, applies what it can and
changes nothing there; its updater asks for the manifest and nothing more.

Wine hands every process the same full token, so a token inherited from an
installer cannot be told apart here. What the test shows instead: the
installers ask for no more than the caller's rights (their manifests), and
every process of the prefix it sees runs as the unprivileged identity,
without capabilities and unable to gain any."""
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

from tests.installer import publishing
from tests.installer.test_installer import (CYCLE_OPTIONS, INSTALLER, NEXT_BUILD, NEXT_INSTALLER,
                                            NEXT_INSTALLER_SILENT, NEXT_VERSION, PRODUCT, SHIPPED_ICON, SITE, core,
                                            options_in)
from tests.settings import test_settings as ui
from tests.support import vel

UNPRIVILEGED = vel.ROOT / "tools" / "unprivileged.sh"
USER = os.environ.get("VELBOX_UNPRIVILEGED_USER", "nobody")
UNINSTALL = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + PRODUCT
RUN = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
WM_MOUSEMOVE, WM_RBUTTONDOWN = 0x200, 0x204
VK_DOWN, VK_RETURN = 0x28, 0x0D
TRAY_ICON_ID = 88888
AS_INVOKER = b'<requestedExecutionLevel level="asInvoker"'
NEEDS_ROOT = "needs root to run as an unprivileged user"


def z_path(p):
    """The Windows name of a Unix path (drive Z: is /)."""
    return "Z:" + str(p).replace("/", "\\")


def snapshot(folder):
    """Every file and folder below `folder`: {relative path: bytes, or None
    for a folder}."""
    return {str(p.relative_to(folder)): None if p.is_dir() else p.read_bytes() for p in folder.rglob("*")}


class UserWine:
    """The unprivileged user's Wine: prefix, programs, registry."""

    def __init__(self):
        # Somewhere the user can reach whatever the caller's TMPDIR, on disk
        # (the prefix takes some 700 MB).
        base = os.environ.get("VELBOX_UNPRIVILEGED_TMP", "/var/tmp")
        self.dir = Path(tempfile.mkdtemp(prefix="velbox-user-", dir=base))
        self.files = self.dir / "files"
        self.prefix = self.dir / "build" / "wineprefix"
        self.drive_c = self.prefix / "drive_c"
        self.profile = self.drive_c / "users" / USER
        self.uid = pwd.getpwnam(USER).pw_uid
        self.programs = []
        self.seen = {}  # pid: (program, Uid line, CapEff, NoNewPrivs)
        self._watching = False

    def start(self):
        self.files.mkdir()
        for f in (vel.BUILD / "traydriver.exe", INSTALLER):
            shutil.copy2(f, self.files / f.name)
        display = vel.wine_env()["DISPLAY"]
        r = subprocess.run([str(UNPRIVILEGED), "start", str(self.dir), display,
                            str(vel.BUILD / "velShellKeeper.exe")],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
        if r.returncode != 0:
            raise RuntimeError(r.stdout.decode(errors="replace") + r.stderr.decode(errors="replace"))
        self._watching = True
        self._watcher = threading.Thread(target=self._watch, daemon=True)
        self._watcher.start()

    def kill_programs(self):
        """Ends what a test left running (its clients hold the single
        instance)."""
        for p in self.programs:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, 9)
                except ProcessLookupError:
                    pass
                p.wait(10)
        self.programs.clear()

    def stop(self):
        self._watching = False
        self.kill_programs()
        subprocess.run([str(UNPRIVILEGED), "stop", str(self.dir)], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=120)
        for pid in self.processes():
            os.kill(pid, 9)
        shutil.rmtree(self.dir, ignore_errors=True)

    # --- processes ---------------------------------------------------------

    def processes(self, folder=None):
        """Ids of this prefix's processes; only those running a program
        from `folder` (a Windows path) when given."""
        pids = []
        for d in Path("/proc").iterdir():
            try:
                if not d.name.isdigit():
                    continue
                if f"WINEPREFIX={self.prefix}".encode() not in (d / "environ").read_bytes().split(b"\0"):
                    continue
                cmd = (d / "cmdline").read_bytes().split(b"\0")[0].decode("utf-8", "replace")
                if folder is None or cmd.lower().startswith(folder.lower() + "\\"):
                    pids.append(int(d.name))
            except OSError:
                pass
        return pids

    def _watch(self):
        while self._watching:
            for pid in self.processes():
                try:
                    program = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")[0].decode("utf-8", "replace")
                    status = dict(line.split(":", 1) for line in
                                  Path(f"/proc/{pid}/status").read_text().splitlines() if ":" in line)
                except OSError:
                    continue
                if not program:
                    continue  # ending: nothing left to read
                self.seen[pid] = (program.rsplit("\\", 1)[-1].rsplit("/", 1)[-1], status["Uid"].split(),
                                  int(status["CapEff"], 16), status.get("NoNewPrivs", "").strip())
            time.sleep(0.2)

    # --- running things as the user ----------------------------------------

    def run(self, *args, timeout=60):
        r = subprocess.run([str(UNPRIVILEGED), "run", str(self.dir), *map(str, args)],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return r.returncode, r.stdout.decode("gbk", "replace")

    def start_program(self, win_path, *args):
        p = subprocess.Popen([str(UNPRIVILEGED), "run", str(self.dir), win_path, *args],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
        self.programs.append(p)
        return p

    def driver(self, *args, timeout=60):
        return self.run(z_path(self.files / "traydriver.exe"), *args, timeout=timeout)

    def end_client(self, exe_win, proc):
        """Asks the client to exit, as its installer does."""
        self.driver("end", exe_win, 20000, timeout=60)
        proc.wait(30)

    def reg_values(self, key, view=32):
        rc, out = self.run("reg", "query", key, f"/reg:{view}")
        if rc != 0:
            return None
        values = {}
        for line in out.splitlines():
            if line.startswith("    "):
                parts = line[4:].rstrip("\r").split("    ", 2)
                if len(parts) >= 2 and parts[1].startswith("REG_"):
                    values[parts[0]] = parts[2] if len(parts) > 2 else ""
        return values

    def run_values(self):
        return {root: (self.reg_values(f"{root}\\{RUN}") or {}).get(SITE) for root in ("HKLM", "HKCU")}

    def desktop_link(self):
        return self.profile / "Desktop" / (PRODUCT + ".lnk")


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), NEEDS_ROOT)
class StandardUserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        began = time.monotonic()
        cls.wine = UserWine()
        try:
            cls.wine.start()
        except BaseException:
            cls.wine.stop()
            raise
        print(f"unprivileged prefix ready in {time.monotonic() - began:.1f} s", file=sys.stderr)

    @classmethod
    def tearDownClass(cls):
        w = cls.wine
        w.stop()
        # Every process of the product ran as the unprivileged user, with no
        # capability and unable to gain one.
        names = sorted({s[0] for s in w.seen.values()})
        print("seen as " + USER + ": " + ", ".join(names), file=sys.stderr)
        wrong = {pid: s for pid, s in w.seen.items()
                 if s[1] != [str(w.uid)] * 4 or s[2] != 0 or s[3] != "1"}
        assert not wrong, wrong
        for program in ("velBox.exe", "velUpdate.exe"):
            assert program in names, names

    def setUp(self):
        self.work = Path(tempfile.mkdtemp(prefix="standard-user-"))
        vel.hosts_reset()
        ui.xdo("mousemove", 5, 5)

    def tearDown(self):
        self.wine.kill_programs()
        vel.hosts_reset()
        shutil.rmtree(self.work, ignore_errors=True)

    def tray_icon_there(self):
        rc, out = self.wine.driver("find", 60000, timeout=90)
        self.assertEqual(rc, 0, "no window of class velBoxMenu")
        window = out.split()[0]
        return vel.wait_until(lambda: self.wine.driver("icon", window, TRAY_ICON_ID)[1].split() == ["1"], 10,
                              step=0.5)

    def entries_follow(self, command, options):
        runs = self.wine.run_values()
        return ((command in runs.values()) == (options["autorun"] == "1")
                and self.wine.desktop_link().exists() == (options["shortlnk"] == "1"))

    def requests(self, path):
        return [e for e in vel.hosts_log("update") if e["path"].split("?", 1)[0] == path]

    def test_install_settings_update_and_uninstall_as_the_user(self):
        w = self.wine
        began = time.monotonic()
        self.assertEqual(w.run(z_path(w.files / INSTALLER.name), "/S", timeout=180)[0], 0)
        app = w.profile / "AppData/Local/Programs" / PRODUCT
        app_win = f"C:\\users\\{USER}\\AppData\\Local\\Programs\\{PRODUCT}"
        exe_win = app_win + "\\velBox.exe"
        command = f'"{exe_win}" /regstart'
        self.assertEqual(sorted(p.name for p in app.iterdir()),
                         ["Icon.ico", "uninst.exe", "uninst.lst", "velBox.exe", "velUpdate.exe"])
        self.assertEqual((app / "Icon.ico").read_bytes(), SHIPPED_ICON.read_bytes())
        values = w.reg_values("HKCU\\" + UNINSTALL)
        self.assertEqual((values or {}).get("InstallLocation"), app_win)
        self.assertIsNone(w.reg_values("HKLM\\" + UNINSTALL))
        start_menu = w.profile / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs" / (PRODUCT + ".lnk")
        self.assertTrue(start_menu.exists())
        for folder in ("Program Files", "Program Files (x86)"):
            self.assertEqual([p.name for p in (w.drive_c / folder).iterdir() if "Velmora" in p.name], [])
        # Neither the installer nor its uninstaller asks for more than the
        # rights of the user who starts it.
        for exe in (INSTALLER, NEXT_INSTALLER_SILENT, app / "uninst.exe"):
            self.assertIn(AS_INVOKER, exe.read_bytes(), exe)
        installed = time.monotonic() - began

        # The client started by the user creates its file and applies it.
        client = w.start_program(exe_win)
        self.assertTrue(self.tray_icon_there(), "no tray icon")
        self.assertTrue(vel.wait_until(ui.main_shown, 40, step=0.5), "no main window on the screen")
        cfg = app / "cfg.xml"
        self.assertTrue(vel.wait_until(lambda: cfg.exists() and b"<ver>" + vel.VERSION.encode() in cfg.read_bytes(),
                                       30), "no cfg.xml")
        defaults = {"autorun": "1", "shortlnk": "1", "closetotray": "1"}
        self.assertEqual(options_in(cfg.read_bytes()), defaults)
        self.assertTrue(vel.wait_until(lambda: self.entries_follow(command, defaults), 30, step=0.5),
                        w.run_values())

        # OK in the settings dialog writes the file and applies it.
        rc, menu = w.driver("find", 20000)
        self.assertEqual(rc, 0, "no tray form")
        self.assertEqual(w.driver("post", menu.strip(), WM_MOUSEMOVE, 0, WM_RBUTTONDOWN)[0], 0)
        self.assertEqual(w.driver("menu", 10000)[0], 0, "no pop-up menu")
        w.driver("key", VK_DOWN, VK_DOWN, VK_RETURN)
        self.assertTrue(vel.wait_until(ui.dialog_shown, 20, step=0.3), "no settings dialog on the screen")
        time.sleep(0.5)
        self.assertEqual([ui.checked(ui.Shot(), i) for i in (0, 3, 1)], [True, True, True])
        ui.click(ui.LEFT + 38, ui.TOP + ui.BOXES[1])  # close to tray
        ui.click(*ui.OK)
        self.assertTrue(vel.wait_until(lambda: not ui.dialog_shown(), 10, step=0.3), "OK did not close the dialog")
        options = dict(CYCLE_OPTIONS)
        self.assertEqual(options, {"autorun": "1", "shortlnk": "1", "closetotray": "0"})
        self.assertEqual(options_in(cfg.read_bytes()), options)
        # Applied at once: closing the window now ends the client.
        ui.click(ui.MAIN_LEFT + 980, ui.MAIN_TOP + 12)
        self.assertEqual(client.wait(30), 0)
        # Its updater, if the timer started it, finds nothing on offer.
        self.assertTrue(vel.wait_until(lambda: not w.processes(app_win), 60, step=0.5))
        used = time.monotonic() - began

        # The update cycle, as at log-on.
        vel.hosts_reset()
        _, address = publishing.publish(NEXT_INSTALLER, self.work, delay=2, key=publishing.BUILD_KEY)
        download_path = address.split(vel.HOSTS["update"], 1)[1]
        kept = cfg.read_bytes()
        client = w.start_program(exe_win, "/regstart")
        self.assertTrue(vel.wait_until(lambda: self.requests("/box/update.xml"), 90, step=0.5),
                        "the updater never asked for the manifest")
        self.assertTrue(vel.wait_until(lambda: self.requests(download_path), 60, step=0.5),
                        "the updater did not fetch the offered installer")
        # The installer from DownTmp runs unseen; the client plays on.
        self.assertTrue(vel.wait_until(
            lambda: (w.reg_values("HKCU\\" + UNINSTALL) or {}).get("DisplayVersion") == NEXT_VERSION
            and len(w.processes(app_win)) == 1, 180, step=1), "the offered installer did not upgrade the installation")
        self.assertIsNone(client.poll())
        w.end_client(exe_win, client)
        for name in ("velBox.exe", "velUpdate.exe"):
            self.assertEqual((app / name).read_bytes(), (NEXT_BUILD / name).read_bytes(), name)
        self.assertEqual(cfg.read_bytes(), kept)
        self.assertEqual((app / "DownTmp" / NEXT_INSTALLER.name).read_bytes(), NEXT_INSTALLER.read_bytes())
        self.assertIsNone(w.reg_values("HKLM\\" + UNINSTALL))

        # The next start records the new version and keeps the options.
        client = w.start_program(exe_win)
        want = core(kept).replace(f"<ver>{vel.VERSION}</ver>".encode(), f"<ver>{NEXT_VERSION}</ver>".encode())
        self.assertTrue(vel.wait_until(lambda: core(cfg.read_bytes()) == want, 30), cfg.read_bytes())
        self.assertTrue(vel.wait_until(lambda: self.entries_follow(command, options), 30, step=0.5), w.run_values())
        updated = time.monotonic() - began

        # The uninstaller ends the client and leaves nothing.
        w.run(app_win + "\\uninst.exe", "/S")
        self.assertTrue(vel.wait_until(lambda: w.reg_values("HKCU\\" + UNINSTALL) is None and not app.exists(),
                                       60, step=0.5), sorted(app.rglob("*")) if app.exists() else "key left")
        self.assertEqual(client.wait(30), 0)
        self.assertEqual(w.run_values(), {"HKLM": None, "HKCU": None})
        self.assertFalse(w.desktop_link().exists())
        self.assertFalse(start_menu.exists())
        for folder in ("Program Files", "Program Files (x86)"):
            self.assertEqual([p.name for p in (w.drive_c / folder).iterdir() if "Velmora" in p.name], [])
        print(f"as {USER}: installed {installed:.1f} s, used {used:.1f} s, updated {updated:.1f} s, "
              f"uninstalled {time.monotonic() - began:.1f} s", file=sys.stderr)

    def test_copy_in_read_only_program_files_starts_and_changes_nothing_there(self):
        w = self.wine
        began = time.monotonic()
        pf = w.drive_c / "Program Files" / PRODUCT
        pf_win = "C:\\Program Files\\" + PRODUCT
        exe_win = pf_win + "\\velBox.exe"
        # As an administrator left it: root's, readable by everyone.
        pf.mkdir()
        for f in (vel.BUILD / "velBox.exe", vel.BUILD / "velUpdate.exe", SHIPPED_ICON):
            shutil.copyfile(f, pf / ("Icon.ico" if f == SHIPPED_ICON else f.name))
        (pf / "cfg.xml").write_bytes(("\ufeff<?xml version=\"1.0\"?>\r\n<config><autorun>1</autorun><shortlnk>1"
                                      "</shortlnk><closetotray>1</closetotray><ver>1.0.0</ver></config>\r\n").encode())
        for p in [pf, *pf.iterdir()]:
            os.chmod(p, 0o755 if p.is_dir() else 0o644)
        self.addCleanup(shutil.rmtree, pf, True)
        before = snapshot(pf)

        client = w.start_program(exe_win)
        self.addCleanup(self.forget_entries)
        self.assertTrue(self.tray_icon_there(), "no tray icon")
        self.assertTrue(vel.wait_until(ui.main_shown, 40, step=0.5), "no main window on the screen")
        # What lies outside the folder follows the file.
        wanted = options_in(before["cfg.xml"])
        self.assertTrue(vel.wait_until(lambda: self.entries_follow(f'"{exe_win}" /regstart', wanted), 30, step=0.5),
                        w.run_values())
        w.end_client(exe_win, client)
        self.assertEqual(snapshot(pf), before)

        # Its updater: the manifest offers an update it has nowhere to keep,
        # whether DownTmp is missing or an administrator's updater made it.
        self.assertTrue(vel.wait_until(lambda: not w.processes(pf_win), 60, step=0.5))
        for made_by_admin in (False, True):
            if made_by_admin:
                (pf / "DownTmp").mkdir(mode=0o755)
                before = snapshot(pf)
            vel.hosts_reset()
            _, address = publishing.publish(NEXT_INSTALLER_SILENT, self.work, delay=1, key=publishing.BUILD_KEY)
            updater = w.start_program(pf_win + "\\velUpdate.exe")
            self.assertEqual(updater.wait(90), 0)
            self.assertTrue(self.requests("/box/update.xml"), "the updater never asked for the manifest")
            self.assertEqual(self.requests(address.split(vel.HOSTS["update"], 1)[1]), [], made_by_admin)
            self.assertEqual(snapshot(pf), before)
        print(f"read-only copy: {time.monotonic() - began:.1f} s", file=sys.stderr)

    def forget_entries(self):
        for root in ("HKLM", "HKCU"):
            self.wine.run("reg", "delete", f"{root}\\{RUN}", "/v", SITE, "/f", "/reg:32")
        self.wine.desktop_link().unlink(missing_ok=True)


if __name__ == "__main__":
    unittest.main()
