"""The installer under Wine: a silent install lays down the programs, the
uninstall key in the 32-bit view and the start-menu shortcut; installing
again or upgrading keeps the user's cfg.xml and "FirstStart"; a running
client is asked to end before its files are replaced; the uninstaller
removes everything of the product and nothing else.

Until the client has its tray window, a stand-in window of the same class
(tray_window_standin.exe, copied over the installed velBox.exe) plays the
running client."""
import os
import pwd
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from tests.installer import publishing
from tests.support import vel

PRODUCT = "Velmora音乐盒"
SITE = "Velmora音乐网"
PF = vel.DRIVE_C / "Program Files" / PRODUCT
PF_WIN = "C:\\Program Files\\" + PRODUCT
UNINST_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + PRODUCT
RUN_LM = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
RUN_CU = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
START_MENU_LINK = vel.DRIVE_C / "ProgramData/Microsoft/Windows/Start Menu/Programs" / (PRODUCT + ".lnk")
DESKTOP = vel.DRIVE_C / "users" / pwd.getpwuid(os.getuid()).pw_name / "Desktop"
PUBLIC_DESKTOP = vel.DRIVE_C / "users" / "Public" / "Desktop"

INSTALLER = Path(os.environ.get("VELBOX_INSTALLER", vel.BUILD / f"VelmoraSetup-{vel.VERSION}.exe"))
INSTALLER_SILENT = Path(os.environ.get(
    "VELBOX_INSTALLER_TEST", vel.BUILD / "installer-test" / f"VelmoraSetup-{vel.VERSION}.exe"))
NEXT_VERSION = os.environ.get("VELBOX_NEXT_VERSION", "1.0.1")
NEXT_BUILD = Path(os.environ.get("VELBOX_NEXT_BUILD", vel.BUILD / "next-version"))
NEXT_INSTALLER = NEXT_BUILD / f"VelmoraSetup-{NEXT_VERSION}.exe"
NEXT_INSTALLER_SILENT = NEXT_BUILD / "installer-test" / f"VelmoraSetup-{NEXT_VERSION}.exe"
STANDIN = vel.BUILD / "tray_window_standin.exe"
_ICON = vel.ROOT / "artwork" / "Icon.ico"
SHIPPED_ICON = _ICON if _ICON.exists() else vel.BUILD / "generated" / "placeholder-Icon.ico"


# --- Wine's registry and file system ----------------------------------------

def wine(*args, timeout=120):
    r = subprocess.run([str(vel.WINE_RUN), "--build", str(vel.BUILD), *map(str, args)],
                       env=vel.wine_env(), stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    # Wine's console tools write the ANSI code page (936) into a pipe.
    return r.returncode, r.stdout.decode("gbk", "replace")


def reg_values(key, view=32):
    """The values of a key in one registry view: {name: data}, None when
    the key is missing."""
    rc, out = wine("reg", "query", key, f"/reg:{view}")
    if rc != 0:
        return None
    values = {}
    for line in out.splitlines():
        if not line.startswith("    "):
            continue
        parts = line[4:].split("    ", 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2] if len(parts) > 2 else ""
    return values


def reg_set(key, name, data, view=32):
    rc, out = wine("reg", "add", key, "/v", name, "/d", data, "/f", f"/reg:{view}")
    assert rc == 0, out


def reg_delete_value(key, name, view=32):
    wine("reg", "delete", key, "/v", name, "/f", f"/reg:{view}")


def unix_path(win_path):
    assert win_path[:3].upper() == "C:\\", win_path
    return vel.DRIVE_C / win_path[3:].replace("\\", "/")


def install(installer, *args):
    """Runs an installer to its end; its exit code."""
    rc, _ = wine(installer, *args, timeout=180)
    return rc


def uninstall(location=PF):
    """Runs the installed uninstaller silently, as the control panel does:
    it hands over to a copy of itself and returns at once, so wait for its
    work to be done."""
    wine(Path(location) / "uninst.exe", "/S")
    done = vel.wait_until(lambda: reg_values(UNINST_KEY) is None
                          and not (Path(location) / "uninst.exe").exists(), 60, step=0.5)
    # The folder goes right after the key, when nothing else is left in it.
    vel.wait_until(lambda: not Path(location).exists(), 3)
    return done


def scrub():
    """Leaves no installation behind, whatever a test did."""
    values = reg_values(UNINST_KEY)
    locations = {PF}
    if values and values.get("InstallLocation"):
        locations.add(unix_path(values["InstallLocation"]))
    for loc in locations:
        if (loc / "uninst.exe").exists() and values is not None:
            uninstall(loc)
        shutil.rmtree(loc, ignore_errors=True)
    wine("reg", "delete", UNINST_KEY, "/f", "/reg:32")
    reg_delete_value(RUN_LM, SITE)
    reg_delete_value(RUN_CU, SITE)
    for f in (START_MENU_LINK, DESKTOP / (PRODUCT + ".lnk")):
        f.unlink(missing_ok=True)


def programs_in(win_folder):
    """Ids of the processes of this prefix running a program from the folder
    (started by an installer, so not children of the test)."""
    pids = []
    for d in Path("/proc").iterdir():
        try:
            if not d.name.isdigit():
                continue
            env = (d / "environ").read_bytes().split(b"\0")
            if f"WINEPREFIX={vel.PREFIX}".encode() not in env:
                continue
            cmd = (d / "cmdline").read_bytes().split(b"\0")[0].decode("utf-8", "replace")
            if cmd.lower().startswith(win_folder.lower() + "\\"):
                pids.append(int(d.name))
        except OSError:
            pass
    return pids


def xdotool(*args):
    r = subprocess.run(["xdotool", *args], env=vel.wine_env(), capture_output=True, text=True, timeout=30)
    return r.stdout.strip()


def core(data):
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    return data.rstrip(b"\r\n")


# A user's file: options changed from the defaults, written by an older client.
USER_CFG = ("\ufeff<?xml version=\"1.0\"?>\r\n<config><autorun>0</autorun><shortlnk>0</shortlnk>"
            "<closetotray>0</closetotray><ver>{}</ver></config>\r\n")


class Base(unittest.TestCase):
    def setUp(self):
        for f in (INSTALLER, INSTALLER_SILENT, NEXT_INSTALLER, NEXT_INSTALLER_SILENT, STANDIN):
            self.assertTrue(f.exists(), f"{f} is not built")
        self.programs = []
        base = vel.DRIVE_C / "velbox-tests"
        base.mkdir(parents=True, exist_ok=True)
        self.work = Path(tempfile.mkdtemp(prefix="installer-", dir=base))
        scrub()

    def tearDown(self):
        for p in self.programs:
            p.kill()
        for pid in programs_in(PF_WIN):
            os.kill(pid, 9)
        scrub()
        shutil.rmtree(self.work, ignore_errors=True)

    def start(self, exe, *args):
        p = vel.Program(exe, *args)
        self.programs.append(p)
        return p

    def start_standin(self, *mode):
        """The stand-in client window, running as the installed velBox.exe."""
        shutil.copyfile(STANDIN, PF / "velBox.exe")
        log = self.work / "standin.log"
        log.unlink(missing_ok=True)
        prog = self.start(PF / "velBox.exe", vel.windows_path(log), *mode)
        self.assertTrue(vel.wait_until(lambda: log.exists() and "ready" in log.read_text(), 30),
                        "the stand-in window did not come up")
        return prog, log

    def assertInstalled(self, version, build, location=PF, location_win=PF_WIN):
        self.assertEqual(sorted(p.name for p in location.iterdir() if p.name not in ("cfg.xml", "DownTmp")),
                         ["Icon.ico", "uninst.exe", "velBox.exe", "velUpdate.exe"])
        self.assertEqual((location / "velBox.exe").read_bytes(), (build / "velBox.exe").read_bytes())
        self.assertEqual((location / "velUpdate.exe").read_bytes(), (build / "velUpdate.exe").read_bytes())
        self.assertEqual((location / "Icon.ico").read_bytes(), SHIPPED_ICON.read_bytes())
        values = reg_values(UNINST_KEY, 32)
        self.assertIsNotNone(values, "no uninstall key in the 32-bit view")
        self.assertEqual(values.get("DisplayName"), PRODUCT)
        self.assertEqual(values.get("DisplayVersion"), version)
        self.assertEqual(values.get("Publisher"), SITE)
        self.assertEqual(values.get("DisplayIcon"), location_win + "\\Icon.ico")
        self.assertEqual(values.get("UninstallString"), f'"{location_win}\\uninst.exe"')
        self.assertEqual(values.get("InstallLocation"), location_win)
        return values


class InstallTest(Base):
    def test_silent_install_lays_down_programs_key_and_shortcut(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        values = self.assertInstalled(vel.VERSION, vel.BUILD)
        self.assertNotIn("FirstStart", values)
        # The key lives only in the 32-bit view, where the client reads it.
        self.assertIsNone(reg_values(UNINST_KEY, 64))
        link = START_MENU_LINK.read_bytes()
        self.assertIn((PF_WIN + "\\velBox.exe").encode("gbk"), link)
        self.assertIn((PF_WIN + "\\Icon.ico").encode("utf-16-le"), link)
        # Silent: the client is not started, so nobody writes cfg.xml.
        vel.wait_until(lambda: (PF / "cfg.xml").exists(), 4)
        self.assertFalse((PF / "cfg.xml").exists())

    def test_installing_again_keeps_the_users_file_and_first_start(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        cfg = USER_CFG.format(vel.VERSION).encode("utf-8")
        (PF / "cfg.xml").write_bytes(cfg)
        reg_set(UNINST_KEY, "FirstStart", "1")
        # The variant the updater starts: silent without any argument.
        self.assertEqual(install(INSTALLER_SILENT), 0)
        self.assertEqual((PF / "cfg.xml").read_bytes(), cfg)
        values = self.assertInstalled(vel.VERSION, vel.BUILD)
        self.assertEqual(values.get("FirstStart"), "1")

    def test_upgrade_keeps_the_users_file_and_the_next_start_records_the_version(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        client = self.start(PF / "velBox.exe")
        cfg = PF / "cfg.xml"
        self.assertTrue(vel.wait_until(
            lambda: cfg.exists() and f"<ver>{vel.VERSION}</ver>".encode() in cfg.read_bytes(), 30))
        client.kill()
        # The user changes the options.
        changed = cfg.read_bytes().replace(b"<closetotray>1</closetotray>", b"<closetotray>0</closetotray>")
        self.assertIn(b"<closetotray>0</closetotray>", changed)
        cfg.write_bytes(changed)
        reg_set(UNINST_KEY, "FirstStart", "1")

        self.assertEqual(install(NEXT_INSTALLER, "/S"), 0)
        self.assertEqual(cfg.read_bytes(), changed)
        values = self.assertInstalled(NEXT_VERSION, NEXT_BUILD)
        self.assertEqual(values.get("FirstStart"), "1")

        self.start(PF / "velBox.exe")
        want = core(changed).replace(f"<ver>{vel.VERSION}</ver>".encode(), f"<ver>{NEXT_VERSION}</ver>".encode())
        got = vel.wait_until(lambda: core(cfg.read_bytes()) == want, 30)
        self.assertTrue(got, cfg.read_bytes())

    def test_upgrade_goes_where_the_client_is_installed(self):
        elsewhere_win = vel.windows_path(self.work) + "\\" + PRODUCT
        elsewhere = self.work / PRODUCT
        self.assertEqual(install(INSTALLER, "/S", "/D=" + elsewhere_win), 0)
        self.assertInstalled(vel.VERSION, vel.BUILD, elsewhere, elsewhere_win)
        self.assertEqual(install(NEXT_INSTALLER, "/S"), 0)
        self.assertInstalled(NEXT_VERSION, NEXT_BUILD, elsewhere, elsewhere_win)
        self.assertFalse(PF.exists())
        self.assertTrue(uninstall(elsewhere))
        self.assertFalse(elsewhere.exists())


class InteractiveTest(Base):
    def test_interactive_install_starts_the_client_at_its_end(self):
        setup = self.start(INSTALLER)
        title = lambda: xdotool("search", "--name", f"^{PRODUCT} 安装")
        window = vel.wait_until(title, 30)
        self.assertTrue(window, "no installer window")
        window = window.split()[0]
        name = lambda: xdotool("getwindowname", window)
        self.assertTrue(vel.wait_until(lambda: "安装目录" in name(), 30), name())

        def press_enter_until(done, timeout):
            # A key sent while the page is still being set up can get lost.
            for _ in range(3):
                xdotool("key", "--window", window, "Return")
                if vel.wait_until(done, timeout):
                    return True
            return False

        # The default button of the folder page starts the installation.
        self.assertTrue(press_enter_until(lambda: "已完成" in name(), 20), name())
        self.assertInstalled(vel.VERSION, vel.BUILD)
        self.assertEqual(programs_in(PF_WIN), [])
        # Then it is the close button.
        self.assertTrue(press_enter_until(lambda: not setup.running(), 10))
        self.assertEqual(setup.wait(10), 0)
        # The client started: it writes its cfg.xml.
        self.assertTrue(vel.wait_until(lambda: (PF / "cfg.xml").exists(), 30))
        self.assertTrue(programs_in(PF_WIN))


class RunningClientTest(Base):
    def test_running_client_is_asked_to_end_before_its_files_are_replaced(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        (PF / "cfg.xml").write_bytes(USER_CFG.format(vel.VERSION).encode())
        prog, log = self.start_standin()
        self.assertEqual(install(NEXT_INSTALLER, "/S"), 0)
        self.assertEqual(log.read_text().split(), ["ready", "asked", "gone"])
        self.assertEqual(prog.wait(10), 0)
        self.assertInstalled(NEXT_VERSION, NEXT_BUILD)
        self.assertEqual((PF / "cfg.xml").read_bytes(), USER_CFG.format(vel.VERSION).encode())

    def test_client_that_stays_fails_the_upgrade_and_keeps_the_installation(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        prog, log = self.start_standin("ignore")
        began = time.monotonic()
        self.assertNotEqual(install(NEXT_INSTALLER, "/S"), 0)
        # It waited for the client and retried the file before giving up.
        self.assertGreaterEqual(time.monotonic() - began, 15)
        self.assertEqual(log.read_text().split(), ["ready", "asked"])
        self.assertTrue(prog.running())
        self.assertEqual((PF / "velBox.exe").read_bytes(), STANDIN.read_bytes())
        self.assertEqual(reg_values(UNINST_KEY).get("DisplayVersion"), vel.VERSION)


class UninstallTest(Base):
    def tearDown(self):
        reg_delete_value(RUN_CU, "VelboxTestOther")
        for f in (DESKTOP / (PRODUCT + " - Copy.lnk"), PUBLIC_DESKTOP / (PRODUCT + ".lnk")):
            f.unlink(missing_ok=True)
        super().tearDown()

    def test_silent_uninstall_removes_the_product_and_only_it(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        (PF / "cfg.xml").write_bytes(USER_CFG.format(vel.VERSION).encode())
        (PF / "DownTmp" / "part").mkdir(parents=True)
        (PF / "DownTmp" / f"VelmoraSetup-{NEXT_VERSION}.exe").write_bytes(NEXT_INSTALLER.read_bytes())
        (PF / "DownTmp" / "part" / "x.bin").write_bytes(b"x")
        reg_set(UNINST_KEY, "FirstStart", "1")
        command = f'"{PF_WIN}\\velBox.exe" /regstart'
        reg_set(RUN_LM, SITE, command)
        reg_set(RUN_CU, SITE, command)
        reg_set(RUN_CU, "VelboxTestOther", "other.exe")
        link = START_MENU_LINK.read_bytes()
        own = DESKTOP / (PRODUCT + ".lnk")
        copy = DESKTOP / (PRODUCT + " - Copy.lnk")
        shared = PUBLIC_DESKTOP / (PRODUCT + ".lnk")
        for f in (own, copy, shared):
            f.write_bytes(link)
        prog, log = self.start_standin()

        self.assertTrue(uninstall(), "the uninstaller did not finish")
        self.assertTrue(vel.wait_until(lambda: not PF.exists(), 10), sorted(PF.rglob("*")))
        self.assertEqual(log.read_text().split(), ["ready", "asked", "gone"])
        self.assertEqual(prog.wait(10), 0)
        self.assertIsNone(reg_values(UNINST_KEY, 32))
        self.assertIsNone(reg_values(UNINST_KEY, 64))
        for key in (RUN_LM, RUN_CU):
            self.assertNotIn(SITE, reg_values(key) or {}, key)
        self.assertEqual(reg_values(RUN_CU).get("VelboxTestOther"), "other.exe")
        self.assertFalse(own.exists())
        self.assertTrue(copy.exists())
        self.assertTrue(shared.exists())
        self.assertFalse(START_MENU_LINK.exists())
        self.assertEqual([p for p in (vel.DRIVE_C / "Program Files").iterdir() if "Velmora" in p.name], [])

    def test_files_the_user_put_there_keep_the_folder(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        (PF / "cfg.xml").write_bytes(b"<config/>")
        (PF / "我的歌单.txt").write_bytes(b"songs")
        self.assertTrue(uninstall())
        self.assertEqual(sorted(p.name for p in PF.iterdir()), ["我的歌单.txt"])


class UpdateCycleTest(Base):
    def tearDown(self):
        vel.hosts_reset()
        super().tearDown()

    @unittest.skipIf(vel.UPDATE_PUBKEY, "this build's velUpdate.exe takes only signed offers")
    def test_updater_fetches_the_published_installer_which_replaces_the_running_client(self):
        self.cycle(signed=False)

    def test_signed_offer_through_an_updater_that_carries_the_key(self):
        self.cycle(signed=True)

    def cycle(self, signed):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        if signed:
            # As a build with VELBOX_UPDATE_PUBKEY set to the test key would install it.
            shutil.copyfile(publishing.SIGNED_UPDATER, PF / "velUpdate.exe")
        cfg = USER_CFG.format(vel.VERSION).encode()
        (PF / "cfg.xml").write_bytes(cfg)
        vel.hosts_reset()
        manifest, _ = publishing.publish(NEXT_INSTALLER_SILENT, self.work, delay=1,
                                         key=publishing.TEST_KEY if signed else None)
        self.assertEqual("<signature>" in manifest.read_text(encoding="utf-8"), signed)
        client, log = self.start_standin()
        updater = self.start(PF / "velUpdate.exe")
        asked = lambda: [e for e in vel.hosts_log("update") if e["path"].startswith("/box/update.xml")]
        vel.wait_until(lambda: asked() or not updater.running(), 30)
        if not asked():
            self.skipTest("velUpdate.exe does not fetch the manifest yet")
        self.assertTrue(vel.wait_until(
            lambda: (reg_values(UNINST_KEY) or {}).get("DisplayVersion") == NEXT_VERSION, 120, step=1),
            "the published installer did not upgrade the installation")
        # The uninstall key is written last: wait for the installer to end.
        self.assertTrue(vel.wait_until(lambda: not programs_in(PF_WIN), 30))
        self.assertInstalled(NEXT_VERSION, NEXT_BUILD)
        self.assertEqual(log.read_text().split(), ["ready", "asked", "gone"])
        self.assertEqual((PF / "cfg.xml").read_bytes(), cfg)
        downloaded = PF / "DownTmp" / NEXT_INSTALLER_SILENT.name
        self.assertEqual(downloaded.read_bytes(), NEXT_INSTALLER_SILENT.read_bytes())


if __name__ == "__main__":
    unittest.main()
