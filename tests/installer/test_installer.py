"""The installer under Wine: a silent install lays down the programs in the
user's profile, the user's uninstall key in the 32-bit view and the user's
start-menu shortcut, nothing machine-wide; installing again or upgrading
keeps the user's cfg.xml and "FirstStart"; a running
client is asked to end before its files are replaced; the uninstaller
removes everything of the product and nothing else.

The real client plays the running client; a stand-in window of its tray
window's class (tray_window_standin.exe, copied over the installed
velBox.exe) plays one that ignores the request, and one whose exit the
uninstall test can follow step by step.

The update cycle runs client, updater and the published installer together,
from a silent install to the uninstall."""
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from tests.installer import publishing
from tests.support import vel

PRODUCT = "Velmora音乐盒"
SITE = "Velmora音乐网"
USER = pwd.getpwuid(os.getuid()).pw_name
# Installed per user, in the user's own profile.
PF = vel.DRIVE_C / "users" / USER / "AppData/Local/Programs" / PRODUCT
PF_WIN = f"C:\\users\\{USER}\\AppData\\Local\\Programs\\" + PRODUCT
UNINST_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + PRODUCT
MACHINE_UNINST_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + PRODUCT
RUN_LM = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
RUN_CU = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
START_MENU_LINK = (vel.DRIVE_C / "users" / USER / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
                   / (PRODUCT + ".lnk"))
DESKTOP = vel.DRIVE_C / "users" / USER / "Desktop"
PUBLIC_DESKTOP = vel.DRIVE_C / "users" / "Public" / "Desktop"

INSTALLER = Path(os.environ.get("VELBOX_INSTALLER", vel.BUILD / f"VelmoraSetup-{vel.VERSION}.exe"))
INSTALLER_SILENT = Path(os.environ.get(
    "VELBOX_INSTALLER_TEST", vel.BUILD / "installer-test" / f"VelmoraSetup-{vel.VERSION}.exe"))
NEXT_VERSION = os.environ.get("VELBOX_NEXT_VERSION", "1.0.1")
NEXT_BUILD = Path(os.environ.get("VELBOX_NEXT_BUILD", vel.BUILD / "next-version"))
NEXT_INSTALLER = NEXT_BUILD / f"VelmoraSetup-{NEXT_VERSION}.exe"
NEXT_INSTALLER_SILENT = NEXT_BUILD / "installer-test" / f"VelmoraSetup-{NEXT_VERSION}.exe"
STANDIN = vel.BUILD / "tray_window_standin.exe"
FSDRIVER = vel.BUILD / "fsdriver.exe"
TRAYDRIVER = vel.BUILD / "traydriver.exe"
TRAY_ICON_ID = 88888
_ICON = vel.ROOT / "artwork" / "Icon.ico"
SHIPPED_ICON = _ICON if _ICON.exists() else vel.BUILD / "generated" / "placeholder-Icon.ico"
# What an installation holds, the files its list names, and the mark an
# uninstall leaves in a folder it could not remove.
INSTALLED = ["Icon.ico", "uninst.exe", "uninst.lst", "velBox.exe", "velUpdate.exe"]
LISTED = ["velBox.exe", "velUpdate.exe", "Icon.ico", "uninst.exe"]
MARK = "uninstalled.mark"


# --- Wine's registry and file system ----------------------------------------

def wine(*args, timeout=120):
    # Wine's console tools write redirected output in the ANSI code page (936).
    return vel.run_wine(*map(str, args), timeout=timeout, encoding="gbk", again=False)


def reg_values(key, view=32):
    """The values of a key in one registry view: {name: data}, None when
    the key is missing."""
    rc, out = vel.reg("query", key, f"/reg:{view}")
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
    rc, out = vel.reg("add", key, "/v", name, "/d", data, "/f", f"/reg:{view}")
    assert rc == 0, out


def reg_delete_value(key, name, view=32):
    vel.reg("delete", key, "/v", name, "/f", f"/reg:{view}")


def unix_path(win_path):
    assert win_path[:3].upper() == "C:\\", win_path
    return vel.DRIVE_C / win_path[3:].replace("\\", "/")


def install(installer, *args):
    """Runs an installer to its end; its exit code (what Wine said of a
    failed one goes to the test's log)."""
    rc, _, err = vel.run_to_end([str(vel.WINE_RUN), "--build", str(vel.BUILD), str(installer), *map(str, args)],
                                vel.wine_env(), 180, again=False)
    if rc != 0:
        print(f"{Path(installer).name} {' '.join(map(str, args))}: exit code {rc}; "
              f"{err.decode('utf-8', 'replace')[-2000:]}", file=sys.stderr)
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
    # Only the installation's uninstaller takes the entry with it.
    if values and values.get("InstallLocation"):
        recorded = unix_path(values["InstallLocation"])
        locations.add(recorded)
        if (recorded / "uninst.exe").exists():
            uninstall(recorded)
    for loc in locations:
        shutil.rmtree(loc, ignore_errors=True)
    vel.reg("delete", UNINST_KEY, "/f", "/reg:32")
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


def snapshot_tree(folder):
    """Every file under a folder, with its content."""
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(Path(folder).rglob("*")) if p.is_file()}


def core(data):
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    return data.rstrip(b"\r\n")


# A user's file: options changed from the defaults, written by an older client.
# The user's options in the update cycle: log-on start and desktop shortcut
# on, so the uninstaller has both to remove; closing the window ends the
# client (not the default).
CYCLE_OPTIONS = {"autorun": "1", "shortlnk": "1", "closetotray": "0"}

USER_CFG = ("\ufeff<?xml version=\"1.0\"?>\r\n<config><autorun>0</autorun><shortlnk>0</shortlnk>"
            "<closetotray>0</closetotray><ver>{}</ver></config>\r\n")


def recorded_version(cfg):
    """The version a cfg.xml's bytes record."""
    return options_in(cfg, ("ver",))["ver"]


def options_in(cfg, keys=("autorun", "shortlnk", "closetotray")):
    """The three options (or the keys given) of a cfg.xml's bytes."""
    text = cfg.decode("utf-8", "replace")
    return {k: text.split(f"<{k}>", 1)[-1].split(f"</{k}>", 1)[0] if f"<{k}>" in text else None for k in keys}


class Base(unittest.TestCase):
    def setUp(self):
        for f in (INSTALLER, INSTALLER_SILENT, NEXT_INSTALLER, NEXT_INSTALLER_SILENT, STANDIN, TRAYDRIVER, FSDRIVER):
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

    def client_window(self):
        """The running client's tray window, once it is there."""
        rc, out = vel.run_wine(str(TRAYDRIVER), "find", "60000", timeout=90)
        self.assertEqual(rc, 0, "no window of class velBoxMenu")
        return out.split()[0]

    def icon_there(self, window):
        _, out = vel.run_wine(str(TRAYDRIVER), "icon", window, str(TRAY_ICON_ID))
        return out.split() == ["1"]

    def start_standin(self, *mode):
        """The stand-in client window, running as the installed velBox.exe."""
        shutil.copyfile(STANDIN, PF / "velBox.exe")
        log = self.work / "standin.log"
        log.unlink(missing_ok=True)
        prog = self.start(PF / "velBox.exe", vel.windows_path(log), *mode)
        self.assertTrue(vel.wait_until(lambda: log.exists() and "ready" in log.read_text(), 30),
                        "the stand-in window did not come up")
        return prog, log

    def assertInstalled(self, version, build, location=PF, location_win=PF_WIN, running=False):
        """The installation of `version`; `running`: with the file of the
        client that ran through the upgrade moved aside beside it."""
        names = sorted(p.name for p in location.iterdir() if p.name not in ("cfg.xml", "DownTmp"))
        if running:
            aside = [n for n in names if re.fullmatch(r"velBox\.exe\.\d+-\d+\.old", n)]
            self.assertEqual(len(aside), 1, names)
            names.remove(aside[0])
        self.assertEqual(names, ["Icon.ico", "uninst.exe", "uninst.lst", "velBox.exe", "velUpdate.exe"])
        self.assertEqual((location / "uninst.lst").read_text().split(), LISTED)
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
        # What the Apps list shows beside the name: the installed files' size
        # in KiB, the day of the installation, the web site.
        size = sum((location / n).stat().st_size for n in ("velBox.exe", "velUpdate.exe", "Icon.ico", "uninst.exe"))
        self.assertEqual(int(values.get("EstimatedSize", "-1"), 0), (size + 1023) // 1024)
        days = {time.strftime("%Y%m%d", time.localtime(time.time() + d)) for d in (-86400, 0, 86400)}
        self.assertIn(values.get("InstallDate"), days)
        self.assertEqual(values.get("URLInfoAbout"), "http://" + vel.HOSTS["web"])
        return values


class InstallTest(Base):
    def test_silent_install_lays_down_programs_key_and_shortcut(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        values = self.assertInstalled(vel.VERSION, vel.BUILD)
        self.assertNotIn("FirstStart", values)
        # Nothing machine-wide: no key, no program folder.
        for view in (32, 64):
            self.assertIsNone(reg_values(MACHINE_UNINST_KEY, view))
        for folder in ("Program Files", "Program Files (x86)"):
            self.assertFalse((vel.DRIVE_C / folder / PRODUCT).exists())
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

    def test_update_from_downtmp_runs_unseen_while_the_shown_client_plays_on(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        client = self.start(PF / "velBox.exe")
        cfg = PF / "cfg.xml"
        self.assertTrue(vel.wait_until(
            lambda: cfg.exists() and f"<ver>{vel.VERSION}</ver>".encode() in cfg.read_bytes(), 30))
        window = self.client_window()
        # The user has changed the options (written while the client runs,
        # as an older client would have kept them).
        changed = cfg.read_bytes().replace(b"<closetotray>1</closetotray>", b"<closetotray>0</closetotray>")
        self.assertIn(b"<closetotray>0</closetotray>", changed)
        cfg.write_bytes(changed)
        reg_set(UNINST_KEY, "FirstStart", "1")

        # The release installer as the updater starts it: from DownTmp, with
        # no arguments. It ends by itself, with no page or message waiting.
        (PF / "DownTmp").mkdir()
        offered = PF / "DownTmp" / NEXT_INSTALLER.name
        shutil.copyfile(NEXT_INSTALLER, offered)
        setup = self.start(offered)
        self.assertEqual(setup.wait(120), 0)
        self.assertEqual(xdotool("search", "--name", f"^{PRODUCT} 安装"), "")
        # The client played on from its file moved aside.
        self.assertTrue(client.running())
        self.assertTrue(self.icon_there(window))
        self.assertEqual(cfg.read_bytes(), changed)
        values = self.assertInstalled(NEXT_VERSION, NEXT_BUILD, running=True)
        self.assertEqual(values.get("FirstStart"), "1")

        # Its next start is the new version's, which records itself.
        client.stop()
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


class TheInstallationTest(Base):
    """The installation is the folder this user's entry records: a copy of
    it with an installer in its DownTmp, an installer told to use a folder
    of other files, or a folder named by its short name take nothing over."""

    def test_a_stray_installer_or_a_used_folder_takes_nothing_over(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        recorded = reg_values(UNINST_KEY)
        # A copy of the installation (a backup) with an installer in its
        # DownTmp, started as its updater would start one: by hand, as far
        # as the installation is concerned, so it shows its pages.
        copy = self.work / "备份"
        shutil.copytree(PF, copy)
        (copy / "DownTmp").mkdir()
        stray = copy / "DownTmp" / INSTALLER.name
        shutil.copyfile(INSTALLER, stray)
        setup = self.start(stray)
        # In update mode it would show no window at all.
        window = vel.wait_until(lambda: xdotool("search", "--name", f"^{PRODUCT} 安装"), 30)
        self.assertTrue(window, "the stray installer showed no page")
        setup.kill()
        self.assertEqual(reg_values(UNINST_KEY), recorded)
        self.assertEqual(sorted(p.name for p in copy.iterdir()), sorted(INSTALLED + ["DownTmp"]))

        # A folder the user already uses is refused, and its files stay.
        used = self.work / "used"
        used.mkdir()
        (used / "Icon.ico").write_bytes(b"the user's icon")
        (used / "cfg.xml").write_bytes(b"<another program's/>")
        before = snapshot_tree(used)
        self.assertEqual(install(INSTALLER, "/S", "/D=" + vel.windows_path(used)), 3)
        self.assertEqual(snapshot_tree(used), before)
        self.assertEqual(reg_values(UNINST_KEY), recorded)

        # Named by its short (8.3) name, a folder is recorded by its long one.
        chosen = self.work / "Velmora long folder name"
        chosen.mkdir()
        rc, short = vel.run_wine(str(FSDRIVER), "short", vel.windows_path(chosen))
        short = short.strip()
        self.assertEqual(rc, 0)
        self.assertNotEqual(short.lower(), vel.windows_path(chosen).lower())
        self.assertEqual(install(INSTALLER, "/S", "/D=" + short), 0)
        self.assertEqual(reg_values(UNINST_KEY).get("InstallLocation"), vel.windows_path(chosen))


class InteractiveTest(Base):
    def test_interactive_install_starts_the_client_at_its_end(self):
        setup = self.start(INSTALLER)
        title = lambda: xdotool("search", "--name", f"^{PRODUCT} 安装")
        window = vel.wait_until(title, 30)
        self.assertTrue(window, "no installer window")
        window = window.split()[0]

        def press_enter_until(done, timeout):
            # A key sent while the page is still being set up can get lost.
            for _ in range(3):
                xdotool("key", "--window", window, "Return")
                if vel.wait_until(done, timeout):
                    return True
            return False

        # The default button of the folder page starts the installation; the
        # finish page follows.
        installed = lambda: (reg_values(UNINST_KEY) or {}).get("DisplayVersion") == vel.VERSION
        self.assertTrue(press_enter_until(installed, 20))
        self.assertInstalled(vel.VERSION, vel.BUILD)
        self.assertEqual(programs_in(PF_WIN), [])
        # Its default button with the box "运行 Velmora音乐盒" as it comes, on.
        self.assertTrue(press_enter_until(lambda: not setup.running(), 10))
        self.assertEqual(setup.wait(10), 0)
        # The client started: it writes its cfg.xml. The desktop shell
        # started it, with the shell's token, not the installer with its own.
        self.assertTrue(vel.wait_until(lambda: (PF / "cfg.xml").exists(), 30))
        self.assertTrue(programs_in(PF_WIN))
        _, parent = vel.run_wine(str(TRAYDRIVER), "parent", self.client_window())
        self.assertEqual(parent.strip().lower(), "explorer.exe")


class RunningClientTest(Base):
    def test_client_whose_file_cannot_be_renamed_is_ended_and_started_again_as_it_was(self):
        for shown in (True, False):
            with self.subTest(shown=shown):
                self.assertEqual(install(INSTALLER, "/S"), 0)
                # A client whose file is held so that it cannot be renamed
                # (as some file systems and scanners hold it).
                prog, log = self.start_standin("hold", *(("shown",) if shown else ()))
                self.assertEqual(install(NEXT_INSTALLER, "/S"), 0)
                self.assertEqual(log.read_text().split(), ["ready", "asked", "gone"])
                self.assertEqual(prog.wait(10), 0)
                self.assertInstalled(NEXT_VERSION, NEXT_BUILD)
                # The new client, through the desktop shell, in the state the
                # old one had: shown, or hidden in the tray as at log-on.
                window = self.client_window()
                _, parent = vel.run_wine(str(TRAYDRIVER), "parent", window)
                self.assertEqual(parent.strip().lower(), "explorer.exe")
                pids = vel.wait_until(lambda: programs_in(PF_WIN), 10)
                args = [(Path("/proc") / str(pid) / "cmdline").read_bytes() for pid in pids]
                self.assertEqual([b"/regstart" in a for a in args], [not shown], args)
                rc, _ = vel.run_wine(str(TRAYDRIVER), "end", PF_WIN + "\\velBox.exe", "20000", timeout=60)
                self.assertEqual(rc, 0)
                scrub()

    def test_client_that_stays_fails_the_upgrade_and_keeps_the_installation(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        prog, log = self.start_standin("hold", "ignore")
        began = time.monotonic()
        self.assertNotEqual(install(NEXT_INSTALLER, "/S"), 0)
        # It retried the file, then asked the client to end and waited for
        # it before giving up.
        self.assertGreaterEqual(time.monotonic() - began, 10)
        self.assertEqual(log.read_text().split(), ["ready", "asked"])
        self.assertTrue(prog.running())
        self.assertEqual((PF / "velBox.exe").read_bytes(), STANDIN.read_bytes())
        self.assertEqual(reg_values(UNINST_KEY).get("DisplayVersion"), vel.VERSION)
        self.assertEqual(sorted(p.name for p in PF.iterdir()), INSTALLED)


class UninstallTest(Base):
    def tearDown(self):
        reg_delete_value(RUN_CU, "VelboxTestOther")
        for f in (DESKTOP / (PRODUCT + " - Copy.lnk"), PUBLIC_DESKTOP / (PRODUCT + ".lnk")):
            f.unlink(missing_ok=True)
        super().tearDown()

    def test_silent_uninstall_removes_the_product_and_only_it(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        (PF / "cfg.xml").write_bytes(USER_CFG.format(vel.VERSION).encode())
        (PF / "cfg.xml.4321-2.tmp").write_bytes(b"<config><autorun>")  # a save cut short
        # What a cut-off upgrade left: a half-written file, a file moved aside.
        (PF / "velUpdate.exe.812.tmp").write_bytes(b"MZ")
        (PF / "velBox.exe.812-4000.old").write_bytes(b"MZ")
        # The updater's download and its temporary file.
        (PF / "DownTmp").mkdir()
        (PF / "DownTmp" / f"VelmoraSetup-{NEXT_VERSION}.exe").write_bytes(NEXT_INSTALLER.read_bytes())
        (PF / "DownTmp" / f"VelmoraSetup-{NEXT_VERSION}.exe.96-1.tmp").write_bytes(b"MZ")
        reg_set(UNINST_KEY, "FirstStart", "1")
        # Its log-on start value goes; another installation's stays.
        command = f'"{PF_WIN}\\velBox.exe" /regstart'
        others = '"C:\\Program Files\\Velmora音乐盒\\velBox.exe" /regstart'
        reg_set(RUN_LM, SITE, others)
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
        self.assertNotIn(SITE, reg_values(RUN_CU) or {})
        self.assertEqual(reg_values(RUN_LM).get(SITE), others)
        self.assertEqual(reg_values(RUN_CU).get("VelboxTestOther"), "other.exe")
        self.assertFalse(own.exists())
        self.assertTrue(copy.exists())
        self.assertTrue(shared.exists())
        self.assertFalse(START_MENU_LINK.exists())
        self.assertEqual([p for p in (vel.DRIVE_C / "Program Files").iterdir() if "Velmora" in p.name], [])

    def test_a_client_that_hangs_is_ended_before_anything_goes(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        (PF / "cfg.xml").write_bytes(USER_CFG.format(vel.VERSION).encode())
        # A window of the client's class that hangs too, of a program in
        # another folder: not this installation's, neither asked nor ended.
        other = self.work / "other"
        other.mkdir()
        shutil.copyfile(STANDIN, other / "velBox.exe")
        other_log = self.work / "other.log"
        elsewhere = self.start(other / "velBox.exe", vel.windows_path(other_log), "freeze")
        self.assertTrue(vel.wait_until(lambda: other_log.exists() and "ready" in other_log.read_text(), 30))
        prog, log = self.start_standin("freeze")
        self.assertTrue(uninstall(), "the uninstaller did not finish")
        self.assertTrue(vel.wait_until(lambda: not PF.exists(), 10), sorted(PF.rglob("*")))
        # Ended by force (Wine reports no exit code of its own for that): it
        # never got to its exit path ("gone"), nor will it.
        prog.wait(10)
        self.assertEqual(log.read_text().split(), ["ready"])
        self.assertTrue(elsewhere.running())
        self.assertEqual(other_log.read_text().split(), ["ready"])
        self.assertIsNone(reg_values(UNINST_KEY))

    def test_files_the_user_put_there_keep_the_folder(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        (PF / "cfg.xml").write_bytes(b"<config/>")
        (PF / "我的歌单.txt").write_bytes(b"songs")
        self.assertTrue(uninstall())
        # The folder stays the product's (the mark): a reinstall may use it.
        self.assertEqual(sorted(p.name for p in PF.iterdir()), [MARK, "我的歌单.txt"])

    def user_folder(self):
        """A folder of the user's files, some named as the updater names its
        own; returns it and a snapshot of its content."""
        music = self.work / "音乐"
        (music / "专辑").mkdir(parents=True)
        for name, data in (("歌.mp3", b"song"), ("setup.exe", b"MZ user"), ("x.tmp", b"mine"),
                           ("专辑/play.exe", b"MZ album")):
            (music / name).write_bytes(data)
        return music, snapshot_tree(music)

    def test_downloads_behind_a_link_are_never_followed(self):
        # Wine shows a symbolic link as a reparse point, as Windows shows a
        # junction or a symbolic link; it has no junctions of its own.
        for target in ("absolute", "relative"):
            with self.subTest(link=target):
                self.assertEqual(install(INSTALLER, "/S"), 0)
                music, before = self.user_folder()
                down = PF / "DownTmp"
                down.symlink_to(music if target == "absolute" else os.path.relpath(music, PF))
                self.assertTrue(uninstall(), "the uninstaller did not finish")
                self.assertEqual(snapshot_tree(music), before)
                # The link is not the product's folder: it stays, and so does
                # the install folder around it.
                self.assertTrue(down.is_symlink())
                self.assertEqual(sorted(p.name for p in PF.iterdir()), ["DownTmp", MARK])
                down.unlink()
                shutil.rmtree(music)

    def test_only_what_the_updater_wrote_leaves_downtmp(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        music, before = self.user_folder()
        down = PF / "DownTmp"
        down.mkdir()
        (down / f"VelmoraSetup-{NEXT_VERSION}.exe").write_bytes(b"MZ offered")
        (down / f"VelmoraSetup-{NEXT_VERSION}.exe.96-1.tmp").write_bytes(b"MZ partial")
        (down / "~velUpdate-00c0ffee00c0ffee.tmp").write_bytes(b"MZ partial")
        (down / "report.2023-01.tmp").write_bytes(b"the user's")
        (down / "music").symlink_to(music)
        (down / "link.exe").symlink_to(music / "setup.exe")
        (down / "notes.txt").write_bytes(b"the user's")
        (down / "part").mkdir()
        (down / "part" / "x.exe").write_bytes(b"MZ in a folder")
        self.assertTrue(uninstall(), "the uninstaller did not finish")
        self.assertEqual(snapshot_tree(music), before)
        self.assertEqual(sorted(p.name for p in down.iterdir()),
                         ["link.exe", "music", "notes.txt", "part", "report.2023-01.tmp"])
        self.assertEqual((down / "part" / "x.exe").read_bytes(), b"MZ in a folder")
        self.assertEqual(sorted(p.name for p in PF.iterdir()), ["DownTmp", MARK])

    def test_uninstall_while_the_updater_downloads_brings_nothing_back(self):
        self.assertEqual(install(INSTALLER, "/S"), 0)
        (PF / "cfg.xml").write_bytes(USER_CFG.format(vel.VERSION).encode())
        vel.hosts_reset()
        self.addCleanup(vel.hosts_reset)
        _, address = publishing.publish(NEXT_INSTALLER, self.work, delay=1, key=publishing.BUILD_KEY)
        path = address.split(vel.HOSTS["update"], 1)[1]
        # The installer's answer is held back: it comes after the uninstall.
        hold = 8
        vel.hosts_route(path=path, host="update", body_file=str(NEXT_INSTALLER), delay=hold)
        updater = self.start(PF / "velUpdate.exe")
        asked = vel.wait_until(lambda: [e for e in vel.hosts_log("update") if e["path"] == path], 60, step=0.5)
        self.assertTrue(asked, "the updater did not ask for the installer")
        began = time.monotonic()
        self.assertTrue(uninstall(), "the uninstaller did not finish")
        # Asked to end, the updater gave up its download at once.
        self.assertTrue(vel.wait_until(lambda: not updater.running(), 15, step=0.5), "the updater still runs")
        # Past the moment the answer would have come, and the start delay.
        time.sleep(max(0.0, hold + 5 - (time.monotonic() - began)))
        self.assertFalse(PF.exists(), sorted(PF.rglob("*")) if PF.exists() else None)
        self.assertIsNone(reg_values(UNINST_KEY))
        self.assertEqual(programs_in(PF_WIN), [])


class UpdateCycleTest(Base):
    """The update cycle with the real programs: the installed client starts
    its updater, which fetches the published installer and starts it; the
    installer, started from DownTmp, replaces the files without a page while
    the client plays on; the next client records the new version; the
    uninstaller leaves nothing."""

    def tearDown(self):
        vel.hosts_reset()
        super().tearDown()

    def update_cycle(self, offered=NEXT_INSTALLER, offered_build=NEXT_BUILD,
                     offered_version=NEXT_VERSION, updater=None, publish=publishing.publish,
                     options=None, quick=True, **publish_options):
        """Runs the whole cycle from a silent install of this build to the
        uninstall, asserting each step. `offered` is the installer the update
        server offers, built in `offered_build`; `updater` a velUpdate.exe put
        over the installed one before the client starts; `publish` feeds the
        update server (publishing.publish's signature) with
        `publish_options`. Returns the times of the steps, in seconds after
        the client's start. With `quick` the installed client is the quick
        build's (its updater starts 3 s after the load, not 15 s; the test as
        a standard user runs the whole cycle at the real length)."""
        options = options or CYCLE_OPTIONS
        self.assertEqual(install(INSTALLER, "/S"), 0)
        if updater is not None:
            shutil.copyfile(updater, PF / "velUpdate.exe")
        if quick:
            shutil.copyfile(vel.QUICK / "velBox.exe", PF / "velBox.exe")
        cfg = PF / "cfg.xml"
        users = ("\ufeff<?xml version=\"1.0\"?>\r\n<config>"
                 + "".join(f"<{k}>{v}</{k}>" for k, v in options.items())
                 + f"<ver>{vel.VERSION}</ver></config>\r\n").encode()
        cfg.write_bytes(users)
        vel.hosts_reset()
        _, address = publish(offered, self.work, **publish_options)
        download_path = address.split(vel.HOSTS["update"], 1)[1]

        def first_request(path):
            hits = [e for e in vel.hosts_log("update") if e["path"].split("?", 1)[0] == path]
            return hits[0]["time"] - began if hits else None

        # As at log-on: hidden in the tray.
        began = time.time()
        client = self.start(PF / "velBox.exe", "/regstart")
        window = self.client_window()
        loaded = time.time() - began
        # The icon is added right after the window is made.
        self.assertTrue(vel.wait_until(lambda: self.icon_there(window), 10, step=0.5))
        # The version is recorded already: the client leaves the user's file
        # as it is; the options are the user's.
        kept = cfg.read_bytes()
        self.assertEqual(kept, users)
        self.assertEqual(options_in(kept), options)
        self.assertTrue(vel.wait_until(lambda: self.entries_follow(options), 30), self.entries())

        manifest = vel.wait_until(lambda: first_request("/box/update.xml"), 90, step=0.5)
        self.assertIsNotNone(manifest, "the updater never asked for the manifest")
        # Timer1 starts the updater at its 15th tick after the window loaded.
        self.assertGreaterEqual(manifest, 2.9 if quick else 14.9)
        self.assertLessEqual(manifest - loaded, 60)
        download = vel.wait_until(lambda: first_request(download_path), 60, step=0.5)
        self.assertIsNotNone(download, "the updater did not fetch the offered installer")

        # The uninstall key is written last: wait for the installer to end.
        # The client (started by the test, so not among the folder's
        # programs) plays on meanwhile, hidden in the tray.
        self.assertTrue(vel.wait_until(
            lambda: (reg_values(UNINST_KEY) or {}).get("DisplayVersion") == offered_version
            and not programs_in(PF_WIN), 180, step=1),
            "the offered installer did not upgrade the installation")
        upgraded = time.time() - began
        self.assertTrue(client.running())
        self.assertTrue(self.icon_there(window))
        self.assertInstalled(offered_version, offered_build, running=True)
        self.assertEqual(cfg.read_bytes(), kept)
        self.assertEqual((PF / "DownTmp" / offered.name).read_bytes(), offered.read_bytes())
        # Ended as the user ends it; it leaves its file moved aside behind.
        client.stop()
        self.assertEqual(client.wait(10), 0)
        self.assertFalse(self.icon_there(window))

        # The next start records the new version and keeps the options.
        client = self.start(PF / "velBox.exe")
        window = self.client_window()
        self.assertTrue(vel.wait_until(lambda: recorded_version(cfg.read_bytes()) == offered_version, 30),
                        cfg.read_bytes())
        self.assertEqual(options_in(cfg.read_bytes()), options)
        self.assertTrue(vel.wait_until(lambda: self.entries_follow(options), 30), self.entries())
        recorded = time.time() - began

        # The uninstaller ends the running client too and leaves nothing.
        self.assertTrue(uninstall(), "the uninstaller did not finish")
        self.assertEqual(client.wait(30), 0)
        self.assertFalse(self.icon_there(window))
        self.assertIsNone(reg_values(UNINST_KEY, 32))
        self.assertIsNone(reg_values(UNINST_KEY, 64))
        self.assertEqual(self.entries(), {"HKLM": False, "HKCU": False, "desktop": False})
        self.assertFalse(START_MENU_LINK.exists())
        for folder in ("Program Files", "Program Files (x86)"):
            left = vel.DRIVE_C / folder
            self.assertEqual([p.name for p in left.iterdir() if "Velmora" in p.name] if left.is_dir() else [], [])
        return {"manifest": manifest, "download": download, "upgraded": upgraded, "recorded": recorded, "uninstalled": time.time() - began}

    def entries(self):
        """Which of the client's log-on start values and desktop shortcut exist."""
        # The value itself: Wine's reg says nothing at all for an empty key.
        return {"HKLM": vel.run_value("HKLM") is not None, "HKCU": vel.run_value("HKCU") is not None,
                "desktop": (DESKTOP / (PRODUCT + ".lnk")).exists()}

    def entries_follow(self, options):
        e = self.entries()
        return (e["HKLM"] or e["HKCU"]) == (options["autorun"] == "1") and e["desktop"] == (options["shortlnk"] == "1")

    def test_client_updater_and_published_installer_update_the_installation(self):
        # Signed with the key the build's updater carries, as a release is.
        times = self.update_cycle(delay=2, key=publishing.BUILD_KEY)
        print("update cycle: " + ", ".join(f"{k} {v:.1f} s" for k, v in times.items()), file=sys.stderr)

    def test_unsigned_offer_through_an_updater_built_to_take_them(self):
        # As a build with VELBOX_UNSIGNED_UPDATES=ON installs it.
        times = self.update_cycle(updater=publishing.UNSIGNED_UPDATER, delay=2)
        print("unsigned update cycle: " + ", ".join(f"{k} {v:.1f} s" for k, v in times.items()), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
