"""End-to-end helpers: run the real programs under Wine in the build tree's
prefix, in install folders of their own, against the stand-in hosts."""
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VELBOX_BUILD", ROOT / "build" / "windows")).resolve()
# The harness lane this test runs in (tools/lane.sh): its own prefix,
# display and stand-in hosts.
LANE = os.environ.get("VELBOX_LANE", "0")
PREFIX = BUILD / ("wineprefix" if LANE == "0" else f"wineprefix-{LANE}")
WINE_RUN = ROOT / "tools" / "wine-run.sh"
HOSTS = {
    "web": os.environ.get("VELBOX_WEB_HOST", "127.0.0.1:18081"),
    "music": os.environ.get("VELBOX_MUSIC_HOST", "127.0.0.1:18082"),
    "update": os.environ.get("VELBOX_UPDATE_HOST", "127.0.0.1:18083"),
}
VERSION = os.environ.get("VELBOX_VERSION", "1.0.0")
# The update signing key built into this build's velUpdate.exe, and the
# private half where the build tree made the pair itself.
UPDATE_PUBKEY = os.environ.get("VELBOX_UPDATE_PUBKEY", "")
UPDATE_PRIVATE_KEY = os.environ.get("VELBOX_UPDATE_PRIVATE_KEY", "")
DRIVE_C = PREFIX / "drive_c"


def wine_env():
    env = dict(os.environ)
    env.update(WINEPREFIX=str(PREFIX), WINEDEBUG="-all", LC_ALL="zh_CN.UTF-8", VELBOX_LANE=LANE)
    env.setdefault("WINEDLLOVERRIDES", "mscoree=")
    envfile = BUILD / "harness" / f"lane{LANE}.env"
    if envfile.exists():
        for line in envfile.read_text().splitlines():
            if line.startswith("export DISPLAY="):
                env["DISPLAY"] = line.split("=", 1)[1]
    return env


def display():
    """The harness's virtual display."""
    return wine_env().get("DISPLAY")


def shot(save_as=None):
    """The whole screen as the display shows it (tests/support/screen.py);
    save_as names a PNG under the build's screenshots folder."""
    from tests.support import screen
    return screen.Shot(display(), save_as=BUILD / "screenshots" / save_as if save_as else None)


def windows_path(p):
    """The Windows path of a file inside the prefix's drive C."""
    rel = Path(p).resolve().relative_to(DRIVE_C.resolve())
    return "C:\\" + str(rel).replace("/", "\\")


# The client of the quick build: the same program with short waits (the
# updater starts at its 15th tick of 200 ms, the first-start notice waits
# 2 s), for tests whose subject is not the length of those waits.
QUICK = BUILD / "quick"


UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora音乐盒"


class InstallDir:
    """A folder on the prefix's drive C holding copies of the programs;
    quick=True takes velBox.exe from the quick build. installed=True makes
    it an installation as its updater sees one: a client beside it and the
    user's uninstall entry (removed with the folder)."""

    def __init__(self, name="app", programs=("velBox.exe",), quick=False, installed=False):
        base = DRIVE_C / "velbox-tests"
        base.mkdir(parents=True, exist_ok=True)
        self.path = Path(tempfile.mkdtemp(prefix=name + "-", dir=base))
        self.installed = installed
        if installed and "velBox.exe" not in programs:
            programs = (*programs, "velBox.exe")
        for p in programs:
            source = QUICK / p if quick and p == "velBox.exe" else BUILD / p
            shutil.copy2(source, self.path / p)
        if installed:
            rc, out = reg("add", UNINSTALL_KEY, "/v", "InstallLocation", "/d", self.win(), "/f", "/reg:32")
            assert rc == 0, out

    def file(self, name):
        return self.path / name

    def win(self, name=""):
        return windows_path(self.path / name) if name else windows_path(self.path)

    def remove(self):
        if self.installed:
            reg("delete", UNINSTALL_KEY, "/f", "/reg:32")
        shutil.rmtree(self.path, ignore_errors=True)


TRAY_DRIVER = BUILD / "traydriver.exe"


class Program:
    """A Windows program running under Wine; ended by id when the test ends."""

    def __init__(self, exe_path, *args, cwd=None):
        self.exe = Path(exe_path)
        self.proc = subprocess.Popen(
            [str(WINE_RUN), "--build", str(BUILD), str(exe_path), *args],
            cwd=str(cwd or Path(exe_path).parent), env=wine_env(),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)

    def wait(self, timeout):
        return self.proc.wait(timeout=timeout)

    def running(self):
        return self.proc.poll() is None

    def stop(self, timeout=20):
        """Ends the program cleanly where it can be asked to, else kills it.
        A killed client leaves its icon (and a balloon it was showing) in
        the notification area, which lives for the whole run: velBox.exe is
        asked to exit as its installer does."""
        if self.proc.poll() is None and self.exe.name.lower() == "velbox.exe" and TRAY_DRIVER.exists():
            try:
                run_wine(str(TRAY_DRIVER), "end", windows_path(self.exe), str(timeout * 1000),
                         timeout=timeout + 30, again=False)
                self.proc.wait(timeout=10)
            except (subprocess.TimeoutExpired, ValueError):
                pass
        self.kill()

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(timeout=10)


def linux_pids(exe):
    """The Linux processes that run, or are bringing up, the Windows program
    at `exe` (a path in the prefix): the program they run (or that Wine's
    loader was asked to run) is in the program's folder, in the Unix or the
    Windows form."""
    exe = Path(exe)
    want = f"{exe.parent.name}/{exe.name}".lower()
    pids = []
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open(f"/proc/{d}/cmdline", "rb") as f:
                argv = f.read().decode("utf-8", "replace").split("\0")
        except OSError:
            continue
        # Wine's loader names the program after itself.
        running = argv[1:3] if os.path.basename(argv[0]).startswith("wine") else argv[:1]
        if any(a.lower().replace("\\", "/").endswith(want) for a in running):
            pids.append(int(d))
    return pids


def never_started(exe, marker):
    """After the program that would have started `exe` has ended: true when
    `exe` neither runs nor left `marker` (a started program that has not come
    up yet already has its process)."""
    return not linux_pids(exe) and not Path(marker).exists()


def run_wine(*args, timeout=60, encoding="utf-8", again=True):
    """Runs a Wine command (reg, cmd, ...) to completion; returns its output.
    Wine's own console programs write redirected output in the ANSI code
    page: pass encoding="gbk" for reg's Chinese names."""
    rc, out, _ = run_to_end([str(WINE_RUN), "--build", str(BUILD), *args], wine_env(), timeout, again)
    return rc, out.decode(encoding, "replace")


def run_to_end(command, env, timeout, again=True):
    """Runs a Wine command in env to its end: (exit code, output bytes,
    error bytes). Its streams go to files, not pipes: a Wine process it
    starts on the way (the desktop's explorer, when the desktop had to be
    started again) keeps them open long after it ended. One that has not
    ended by `timeout` (seen on loaded CI machines: a Wine program that
    never came back from its start) has what the prefix's processes wait in
    written to the test's log and, with `again`, is run once more."""
    for attempt in range(2 if again else 1):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                rc = p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                print(f"{' '.join(map(str, command))}: not ended after {timeout} s\n{wine_report(env)}",
                      file=sys.stderr, flush=True)
                if attempt or not again:
                    raise
                continue
            out.seek(0)
            err.seek(0)
            return rc, out.read(), err.read()


def wine_report(env):
    """What each Wine process of env's prefix is and waits in, and the
    Windows call stacks of its programs (not Wine's services), for the log
    of a hang."""
    prefix = f"WINEPREFIX={env['WINEPREFIX']}".encode()
    lines = []
    for d in sorted((p for p in Path("/proc").iterdir() if p.name.isdigit()), key=lambda p: int(p.name)):
        try:
            if prefix not in (d / "environ").read_bytes().split(b"\0"):
                continue
            cmd = (d / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace").strip()
            stat = (d / "stat").read_text().rsplit(")", 1)[1].split()
            age = time.monotonic() - int(stat[19]) / os.sysconf("SC_CLK_TCK")
            lines.append(f"  {d.name} {stat[0]} {age:.0f}s {(d / 'wchan').read_text() or '-'} {cmd}")
        except OSError:
            pass
    try:
        r = subprocess.run(["wine", "winedbg", "--command", "bt all"], env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=60)
        services = ("services.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "rpcss.exe", "winedbg.exe")
        lines += ["Backtracing for " + s.strip()[:1500]
                  for s in r.stdout.decode("utf-8", "replace").split("\nBacktracing for ")[1:]
                  if not any(f"\\{name})" in s.split("\n", 1)[0] for name in services)]
    except subprocess.TimeoutExpired:
        lines.append("  (winedbg did not end either)")
    return "\n".join(lines)


def reg(*args, encoding="gbk"):
    """Runs Wine's reg to completion: (exit code, output). reg always says
    something, on its output or, for a missing key, its error stream; a run
    that said nothing at all was a Wine process that did not come up (seen
    under load) and is run again."""
    for attempt in range(3):
        rc, out, err = run_to_end([str(WINE_RUN), "--build", str(BUILD), "reg", *args], wine_env(), 60)
        if out.strip() or err.strip():
            break
        print(f"reg {' '.join(args[:2])}: no output (exit code {rc}), run again", file=sys.stderr)
    return rc, out.decode(encoding, "replace")


def wait_until(cond, timeout, step=0.1):
    deadline = time.time() + timeout
    while time.time() < deadline:
        v = cond()
        if v:
            return v
        time.sleep(step)
    return cond()


# --- log-on start entry and desktop shortcut --------------------------------
# The prefix has one registry and one desktop for all tests of a build.

RUN_KEY = r"Software\Microsoft\Windows\CurrentVersion\Run"
RUN_VALUE = "Velmora音乐网"
APP_TITLE = "Velmora音乐盒"
_REG_LINE = re.compile(r"^ {4}(.*?) {4}(REG_[A-Z_]+)(?: {4}(.*))?$")


def run_value(root="HKCU", view=32):
    """(type, data) of the Run value "Velmora音乐网" under root (HKLM or
    HKCU) in the given registry view, or None when it is not there."""
    rc, out = reg("query", f"{root}\\{RUN_KEY}", "/v", RUN_VALUE, f"/reg:{view}")
    if rc != 0:
        return None
    for line in out.splitlines():
        m = _REG_LINE.match(line.rstrip("\r"))
        if m and m.group(1) == RUN_VALUE:
            return m.group(2), m.group(3) or ""
    return None


def set_run_value(data, root="HKLM", view=32, kind="REG_SZ"):
    rc, _ = reg("add", f"{root}\\{RUN_KEY}", "/v", RUN_VALUE, "/t", kind, "/d", data, "/f",
                     f"/reg:{view}")
    return rc == 0


def delete_run_value(root="HKLM", view=32):
    reg("delete", f"{root}\\{RUN_KEY}", "/v", RUN_VALUE, "/f", f"/reg:{view}")


def desktop():
    """The prefix user's desktop folder."""
    return DRIVE_C / "users" / pwd.getpwuid(os.getuid()).pw_name / "Desktop"


def titled_desktop_entries():
    """Names on the desktop that contain the product title, in any case."""
    d = desktop()
    if not d.is_dir():
        return []
    return sorted(p.name for p in d.iterdir() if APP_TITLE.lower() in p.name.lower())


class SystemEntries:
    """Puts the Run value (both places, 32-bit view) and the client's desktop
    shortcuts aside for a test; restore() removes what the test left and
    brings back what was there."""

    def __init__(self):
        self.values = {root: run_value(root) for root in ("HKLM", "HKCU")}
        for root in self.values:
            delete_run_value(root)
        self.store = Path(tempfile.mkdtemp(prefix="desktop-aside-"))
        self.moved = []
        for name in titled_desktop_entries():
            shutil.move(str(desktop() / name), str(self.store / name))
            self.moved.append(name)

    def restore(self):
        for root, value in self.values.items():
            delete_run_value(root)
            if value:
                set_run_value(value[1], root, kind=value[0])
        for name in titled_desktop_entries():
            p = desktop() / name
            if p.is_dir() and not p.is_symlink():
                shutil.rmtree(p)
            else:
                p.unlink()
        for name in self.moved:
            shutil.move(str(self.store / name), str(desktop() / name))
        shutil.rmtree(self.store, ignore_errors=True)


# --- stand-in hosts -------------------------------------------------------

def _ctl(path, data=None):
    url = f"http://{HOSTS['update']}{path}"
    req = urllib.request.Request(url, data=data, method="POST" if data is not None else "GET")
    with urllib.request.urlopen(req, timeout=10) as r:
        return r.read()


def hosts_reset():
    _ctl("/_ctl/reset", b"")


def hosts_route(**route):
    _ctl("/_ctl/route", json.dumps(route).encode())


def hosts_log(role=None):
    lines = _ctl("/_ctl/log").decode("utf-8").splitlines()
    entries = [json.loads(l) for l in lines if l.strip()]
    return [e for e in entries if role is None or e["role"] == role]
