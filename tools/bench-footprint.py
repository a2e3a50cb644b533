#!/usr/bin/env python3
"""Prints one table of what the programs cost under Wine, each figure beside
a yardstick measured in the same run on the same Wine:

  - velBox.exe from process start to its window on the (virtual) screen,
    against the bare one-window program tools/bench/bare_window.cpp (median
    of --runs starts each, taken in turns as tools/bench-startup.py does);
  - velBox.exe's CPU time (utime + stime of its process) over 60 s hidden in
    the tray after a "/regstart" start, once the updater it starts at its
    15th timer tick has run (or after 16 s when this build starts none),
    beside the bare program idling 60 s, and what wineserver spent meanwhile;
  - private memory (Private_Clean + Private_Dirty of smaps_rollup) of velBox
    shown and hidden in the tray, against the bare program shown;
  - the sizes of velBox.exe, velUpdate.exe and the installer;
  - velUpdate.exe's run without an update, against a bare Wine process
    start, and what a 64 MiB larger installer costs it against curl
    (tools/bench-update.sh with BENCH_UPDATE_MIB=64, offers signed with the
    build tree's key);
  - the time an update takes to apply: the next revision's installer
    (next-version/, built with the tests) from its start until it has put
    the new files in place and ended, over this build's installation with
    its client running hidden in the tray, beside the same installer run
    into a fresh folder (median of --runs each).

  tools/bench-footprint.py [BUILD_DIR] [--runs N] [--idle S]

Builds nothing: run it after building (cmake --build build/windows). Run by
hand, not by the tests: it takes about six minutes. It starts the build
tree's harness (virtual display, wineserver, stand-in hosts) and stops it.
"""
import argparse
import importlib.util
import os
import re
import shutil
import statistics
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
_spec = importlib.util.spec_from_file_location("bench_startup", ROOT / "tools" / "bench-startup.py")
startup = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(startup)

CLIENT_TITLE = "Velmora音乐网 - 给你最好的音乐"
BARE_TITLE = "bare window"
TICK = os.sysconf("SC_CLK_TCK")
CFG = (b"<config><autorun>0</autorun><shortlnk>0</shortlnk><closetotray>1</closetotray>"
       b"<ver>1.0.0</ver></config>")


def cpu_ms(pid):
    """utime + stime of the process (all its threads), in ms."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000.0 / TICK


def run_ns(pid):
    """Time on a CPU of the process's live threads, in ns, by the
    scheduler's own count (finer than the clock ticks of utime + stime)."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total


def private_kib(pid):
    total = 0
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith(("Private_Clean:", "Private_Dirty:")):
                total += int(line.split()[1])
    return total


def windows_pid(folder, exe_name):
    """The process of the program started from `folder`: Wine's process of a
    Windows program is named after it and carries its path, Unix or Windows
    form, in its command line."""
    r = subprocess.run(["pgrep", "-f", re.escape(exe_name)], capture_output=True, text=True)
    for pid in r.stdout.split():
        try:
            with open(f"/proc/{pid}/stat") as f:
                named = f"({exe_name})" in f.read()
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                here = folder.name.encode() in f.read()
        except OSError:
            continue
        if named and here:
            return int(pid)
    return None


class Running:
    """A Windows program started under Wine; ended by its process id."""

    def __init__(self, env, folder, exe_name, *args):
        self.proc = subprocess.Popen(["wine", str(folder / exe_name), *args], env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.began = time.perf_counter()
        self.pid = None
        deadline = time.time() + 30
        while self.pid is None and time.time() < deadline:
            self.pid = windows_pid(folder, exe_name)
            time.sleep(0.05)
        if self.pid is None:
            self.stop()
            sys.exit(f"{exe_name}: no process found")

    def stop(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, 9)
            except ProcessLookupError:
                pass
            self.proc.wait(timeout=30)
        if self.pid:
            deadline = time.time() + 10
            while os.path.exists(f"/proc/{self.pid}") and time.time() < deadline:
                time.sleep(0.05)


def wait_shown(env, title, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if startup.visible(env, title):
            return True
        time.sleep(0.05)
    return False


def ctl(update, path, data=None):
    req = urllib.request.Request(f"http://{update}/_ctl/{path}", data=data, method="POST" if data is not None else "GET")
    with urllib.request.urlopen(req, timeout=10) as r:
        return r.read().decode("utf-8")


def manifest_requests(update):
    return [l for l in ctl(update, "log").splitlines() if '"/box/update.xml' in l]


def silent_install(env, installer, folder_win):
    """Seconds the installer runs, silent, into the folder."""
    began = time.perf_counter()
    r = subprocess.run(["wine", str(installer), "/S", "/D=" + folder_win], env=env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=300)
    took = time.perf_counter() - began
    if r.returncode != 0:
        sys.exit(f"{installer.name} failed ({r.returncode})")
    return took


def update_times(env, build, folder, runs):
    """(update over the installed revision with its client running, the same
    installer into a fresh folder): medians in seconds."""
    old = build / f"VelmoraSetup-{startup.cache_value(build, 'VELBOX_VERSION')}.exe"
    new = sorted((build / "next-version").glob("VelmoraSetup-*.exe"))
    if not new:
        sys.exit(f"no installer in {build / 'next-version'}: build the tests too (cmake --build {build})")
    new = new[0]
    folder_win = "C:\\" + str(folder.relative_to(build / "wineprefix" / "drive_c")).replace("/", "\\")
    applied, fresh = [], []
    for _ in range(runs):
        shutil.rmtree(folder, ignore_errors=True)
        fresh.append(silent_install(env, new, folder_win))
        silent_install(env, old, folder_win)
        (folder / "cfg.xml").write_bytes(CFG)
        client = Running(env, folder, "velBox.exe", "/regstart")
        time.sleep(2)
        applied.append(silent_install(env, new, folder_win))
        if (folder / "velBox.exe").read_bytes() != (build / "next-version" / "velBox.exe").read_bytes():
            sys.exit("the update did not put the new client in place")
        client.stop()
    subprocess.run(["wine", str(folder / "uninst.exe"), "/S"], env=env, stdin=subprocess.DEVNULL,
                   capture_output=True, timeout=120)
    deadline = time.time() + 30
    while (folder / "uninst.exe").exists() and time.time() < deadline:
        time.sleep(0.2)
    shutil.rmtree(folder, ignore_errors=True)
    return statistics.median(applied), statistics.median(fresh)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build", nargs="?", default=str(ROOT / "build" / "windows"))
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--idle", type=float, default=60.0, help="seconds of idling measured (60)")
    args = ap.parse_args()
    build = Path(args.build).resolve()
    version = startup.cache_value(build, "VELBOX_VERSION")
    files = {name: build / name for name in ("velBox.exe", "velUpdate.exe", "bare_window.exe")}
    installer = build / f"VelmoraSetup-{version}.exe"
    for f in (*files.values(), installer):
        if not f.exists():
            sys.exit(f"missing {f}: build first (cmake --build {build})")
    hosts = [startup.cache_value(build, f"VELBOX_{r}_HOST") for r in ("WEB", "MUSIC", "UPDATE")]
    update = hosts[2]

    subprocess.run([str(ROOT / "tools" / "harness.sh"), "start", str(build), *hosts], check=True,
                   stdout=subprocess.DEVNULL)
    folder = build / "wineprefix" / "drive_c" / "velbox-footprint"
    rows = []
    try:
        env = startup.env_for(build)
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for f in files.values():
            shutil.copy2(f, folder / f.name)
        if (build / "Icon.ico").exists():
            shutil.copy2(build / "Icon.ico", folder / "Icon.ico")
        (folder / "cfg.xml").write_bytes(CFG)

        # 1. Start to window, in turns; one unmeasured run of each first
        # (the first program on a fresh wineserver may wait for Wine's own
        # services: it gets a second chance).
        for exe, title in (("bare_window.exe", BARE_TITLE), ("velBox.exe", CLIENT_TITLE)):
            try:
                startup.one_run(env, folder / exe, title)
            except SystemExit:
                startup.one_run(env, folder / exe, title)
        times = {"bare": [], "velBox": []}
        for _ in range(args.runs):
            times["bare"].append(startup.one_run(env, folder / "bare_window.exe", BARE_TITLE))
            times["velBox"].append(startup.one_run(env, folder / "velBox.exe", CLIENT_TITLE))
        tb, tv = statistics.median(times["bare"]), statistics.median(times["velBox"])

        # 2. Private memory with the window shown, after 5 s of settling.
        shown = {}
        for exe, title in (("bare_window.exe", BARE_TITLE), ("velBox.exe", CLIENT_TITLE)):
            p = Running(env, folder, exe)
            if not wait_shown(env, title):
                p.stop()
                sys.exit(f"{exe}: no window")
            time.sleep(5)
            shown[exe] = private_kib(p.pid)
            p.stop()

        # 3. Idle: the bare program shown, then velBox hidden in the tray.
        server_pid = int((build / "harness" / "lane0" / "wineserver.pid").read_text())
        bare = Running(env, folder, "bare_window.exe")
        wait_shown(env, BARE_TITLE)
        time.sleep(5)
        b0, s0, n0 = cpu_ms(bare.pid), cpu_ms(server_pid), run_ns(bare.pid)
        time.sleep(args.idle)
        bare_cpu, bare_server = cpu_ms(bare.pid) - b0, cpu_ms(server_pid) - s0
        bare_ns = run_ns(bare.pid) - n0
        bare.stop()

        ctl(update, "reset", b"")
        client = Running(env, folder, "velBox.exe", "/regstart")
        # The updater comes at the 15th tick; the measured time starts once
        # it has asked for the manifest and ended (or after 16 s when this
        # build does not start it).
        updater_note = "not started by this build: 60 s after 16 s of idling"
        while time.perf_counter() - client.began < 16:
            time.sleep(0.2)
        deadline = time.perf_counter() + 10
        while not manifest_requests(update) and time.perf_counter() < deadline:
            time.sleep(0.2)
        if manifest_requests(update):
            t = time.perf_counter()
            while windows_pid(folder, "velUpdate.exe") and time.perf_counter() - t < 30:
                time.sleep(0.2)
            updater_note = f"started at {t - client.began:.0f} s and ended; measured from {time.perf_counter() - client.began:.0f} s"
        hidden_at_start = not startup.visible(env, CLIENT_TITLE)
        c0, s0, n0 = cpu_ms(client.pid), cpu_ms(server_pid), run_ns(client.pid)
        time.sleep(args.idle)
        client_cpu, client_server = cpu_ms(client.pid) - c0, cpu_ms(server_pid) - s0
        client_ns = run_ns(client.pid) - n0
        hidden = hidden_at_start and not startup.visible(env, CLIENT_TITLE)
        alive = client.proc.poll() is None
        tray_private = private_kib(client.pid)
        client.stop()
        if not alive:
            sys.exit("velBox.exe ended while idling")

        # 4. velUpdate: no-update run and the 64 MiB download against curl.
        r = subprocess.run([str(ROOT / "tools" / "bench-update.sh"), str(build)], capture_output=True, text=True,
                           env=dict(os.environ, BENCH_UPDATE_MIB="64"), timeout=1800)
        if r.returncode != 0:
            sys.exit("bench-update.sh failed:\n" + r.stdout + r.stderr)
        out = r.stdout
        num = r"([0-9.]+)"
        vel_extra = float(re.search(r"velUpdate\.exe\s+small\s+" + num + r" s\s+64 MiB more\s+" + num
                                    + r" s\s+extra\s+" + num, out).group(3))
        curl_extra = float(re.search(r"curl\s+small\s+" + num + r" s\s+64 MiB more\s+" + num
                                     + r" s\s+extra\s+" + num, out).group(3))
        m = re.search(r"velUpdate\.exe " + num + r" s; bare Wine process start " + num + r" s; manifest by curl "
                      + num, out)
        no_update, bare_start, curl_manifest = map(float, m.groups())

        # 5. An update applied, beside the same installer into a fresh folder.
        applied, fresh = update_times(env, build, build / "wineprefix" / "drive_c" / "velbox-apply", args.runs)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
        subprocess.run([str(ROOT / "tools" / "harness.sh"), "stop", str(build)], stdout=subprocess.DEVNULL)

    def mib(n):
        return f"{n / 1048576:.2f} MiB"

    def kib(n):
        return f"{n / 1024:.1f} MiB"

    rows = [
        ("start to window (median of %d)" % args.runs, f"{tv * 1000:.0f} ms", f"bare window {tb * 1000:.0f} ms",
         f"{tv / tb:.2f}", "<= 1.5"),
        (f"CPU in {args.idle:.0f} s hidden in the tray", f"{client_cpu:.0f} ms ({client_ns / 1e6:.1f} ms)",
         f"bare window idle {bare_cpu:.0f} ms ({bare_ns / 1e6:.1f} ms)", "-", "< 50 ms"),
        (f"wineserver CPU in the same {args.idle:.0f} s", f"{client_server:.0f} ms",
         f"with the bare window {bare_server:.0f} ms", "-", ""),
        ("private memory, window shown", kib(shown["velBox.exe"]), f"bare window {kib(shown['bare_window.exe'])}",
         f"{shown['velBox.exe'] / shown['bare_window.exe']:.2f}", ""),
        ("private memory, hidden in the tray", kib(tray_private), f"bare window {kib(shown['bare_window.exe'])}",
         f"{tray_private / shown['bare_window.exe']:.2f}", ""),
        ("size of velBox.exe", mib(files["velBox.exe"].stat().st_size),
         f"bare_window.exe {files['bare_window.exe'].stat().st_size / 1024:.1f} KiB", "-", "< 2 MiB"),
        ("size of velUpdate.exe", mib(files["velUpdate.exe"].stat().st_size), "", "-", ""),
        (f"size of {installer.name}", mib(installer.stat().st_size), "", "-", ""),
        ("velUpdate.exe run without an update", f"{no_update:.3f} s",
         f"bare Wine process start {bare_start:.3f} s", f"{no_update / bare_start:.2f}", ""),
        ("64 MiB more installer to download", f"{vel_extra:.3f} s", f"curl {curl_extra:.3f} s",
         f"{vel_extra / curl_extra:.2f}", "<= 1.25"),
        (f"update applied, client running (median of {args.runs})", f"{applied:.3f} s",
         f"same installer, fresh folder {fresh:.3f} s", f"{applied / fresh:.2f}", ""),
    ]
    head = ("measure", "velBox / velUpdate", "yardstick, same run", "ratio", "target")
    widths = [max(len(r[i]) for r in (head, *rows)) for i in range(5)]
    line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
    print(line(head))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))
    print()
    print("CPU: utime + stime of the process; in brackets the scheduler's count for its threads.")
    print(f"Wine: {subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()}; "
          f"updater in the tray run: {updater_note}; "
          f"client hidden all the time: {'yes' if hidden else 'NO'}; manifest by curl {curl_manifest:.3f} s.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
