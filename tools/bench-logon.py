#!/usr/bin/env python3
"""Prints what a start of velBox.exe costs against what such a start needs,
side by side in one run on the same Wine, as ratios:

  - the log-on start ("/regstart", an installation whose first-start notice
    was given) against the yardstick of the least such a start must do, one
    hidden window, a tray icon and one WebBrowser control told "about:blank"
    (tools/bench/bare_tray.cpp with /browser), and against a bare tray
    program (the same without the control): CPU time (utime + stime) over
    the first 10 s, bytes of the DLL files mapped into the process (each
    file once), private memory (Private_Clean + Private_Dirty) at 10 s;
  - the shown start, from process start to the window on the (virtual)
    screen, against a bare one-window program (tools/bench/bare_window.cpp).

Windows rates a log-on program's start as Low under 300 ms of CPU and
300 KB of disk I/O, High over 1 s or 3 MB; the figures beside them are
Wine's, on this machine.

  tools/bench-logon.py [BUILD_DIR] [--runs N] [--before OTHER/velBox.exe]

--before puts another build of the client (an earlier revision, say) in
the same turns, so that before and after come from one run.

Builds nothing: run it after building (cmake --build build/windows). Run by
hand, not by the tests (about three minutes). It starts the build tree's
harness (virtual display, wineserver, stand-in hosts) and stops it; the
programs run in turns, each figure is the median of its runs.
"""
import argparse
import importlib.util
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
_spec = importlib.util.spec_from_file_location("bench_footprint", ROOT / "tools" / "bench-footprint.py")
fp = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(fp)
startup = fp.startup

WINDOW = 10.0  # seconds after the start that are measured
UNINSTALL = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora音乐盒"
PROGRAMS = {  # name: (file, arguments)
    "velBox /regstart": ("velBox.exe", ["/regstart"]),
    "yardstick": ("bare_tray.exe", ["/browser"]),
    "bare tray": ("bare_tray.exe", []),
}


def dll_bytes(pid):
    """Sizes of the DLL files mapped into the process, each file once."""
    seen = set()
    with open(f"/proc/{pid}/maps") as f:
        for line in f:
            parts = line.split(None, 5)
            if len(parts) == 6 and parts[5].strip().lower().endswith(".dll"):
                seen.add(parts[5].strip())
    return sum(os.path.getsize(p) for p in seen if os.path.exists(p))


def logon_run(env, folder, exe, args):
    """(CPU ms, DLL bytes, private KiB) of one start, at WINDOW seconds."""
    p = fp.Running(env, folder, exe, *args)
    try:
        while time.perf_counter() - p.began < WINDOW:
            time.sleep(0.05)
        return fp.cpu_ms(p.pid), dll_bytes(p.pid), fp.private_kib(p.pid)
    finally:
        p.stop()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build", nargs="?", default=str(ROOT / "build" / "windows"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--before", type=Path, help="another velBox.exe measured in the same turns")
    args = ap.parse_args()
    build = Path(args.build).resolve()
    files = [build / n for n in ("velBox.exe", "bare_tray.exe", "bare_window.exe")]
    for f in files + ([args.before] if args.before else []):
        if not f.exists():
            sys.exit(f"missing {f}: build first (cmake --build {build})")
    programs = dict(PROGRAMS)
    shown_programs = {"bare": ("bare_window.exe", fp.BARE_TITLE), "velBox": ("velBox.exe", fp.CLIENT_TITLE)}
    if args.before:
        programs["before /regstart"] = ("velBoxOld.exe", ["/regstart"])
        shown_programs["before"] = ("velBoxOld.exe", fp.CLIENT_TITLE)
    hosts = [startup.cache_value(build, f"VELBOX_{r}_HOST") for r in ("WEB", "MUSIC", "UPDATE")]
    subprocess.run([str(ROOT / "tools" / "harness.sh"), "start", str(build), *hosts], check=True,
                   stdout=subprocess.DEVNULL)
    folder = build / "wineprefix" / "drive_c" / "velbox-logon"
    env = startup.env_for(build)
    try:
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for f in files:
            shutil.copy2(f, folder / f.name)
        if args.before:
            shutil.copy2(args.before, folder / "velBoxOld.exe")
        (folder / "cfg.xml").write_bytes(fp.CFG)
        # The notice was given: the log-on start sends none.
        startup.wine_reg(env, "add", UNINSTALL, "/v", "FirstStart", "/d", "1", "/reg:32", "/f")

        # One unmeasured start of each warms Wine's caches.
        for exe, argv in programs.values():
            logon_run(env, folder, exe, argv)
        got = {name: [] for name in programs}
        for _ in range(args.runs):
            for name, (exe, argv) in programs.items():
                got[name].append(logon_run(env, folder, exe, argv))

        for exe, title in shown_programs.values():
            startup.one_run(env, folder / exe, title)
        shown = {name: [] for name in shown_programs}
        for _ in range(args.runs):
            for name, (exe, title) in shown_programs.items():
                shown[name].append(startup.one_run(env, folder / exe, title))
    finally:
        startup.wine_reg(env, "delete", UNINSTALL, "/f", "/reg:32")
        shutil.rmtree(folder, ignore_errors=True)
        subprocess.run([str(ROOT / "tools" / "harness.sh"), "stop", str(build)], stdout=subprocess.DEVNULL)

    med = {name: [statistics.median(r[i] for r in runs) for i in range(3)] for name, runs in got.items()}
    shown_med = {name: statistics.median(times) for name, times in shown.items()}
    table = logon_table("velBox", med["velBox /regstart"], med, shown_med["velBox"], shown_med, args.runs)
    if args.before:
        table += logon_table("before", med["before /regstart"], med, shown_med["before"], shown_med, args.runs)[1:]
    widths = [max(len(r[i]) for r in table) for i in range(len(table[0]))]
    for n, r in enumerate(table):
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
        if n == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    print()
    print("Runs (CPU ms, DLL MiB, private MiB): " + "; ".join(
        f"{name}: " + ", ".join(f"({c:.0f}, {d / 1048576:.0f}, {p / 1024:.1f})" for c, d, p in runs)
        for name, runs in got.items()))
    print(f"Wine: {subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()}")
    return 0


def logon_table(name, client, med, shown_client, shown_med, runs):
    """The table's head and the rows of one client against the yardsticks."""
    yard, tray = med["yardstick"], med["bare tray"]
    rows = [
        (f"CPU, first {WINDOW:.0f} s", lambda v: f"{v:.0f} ms", 0, "Low < 300 ms, High > 1 s"),
        ("DLL files mapped", lambda v: f"{v / 1048576:.1f} MiB", 1, ""),
        (f"private memory at {WINDOW:.0f} s", lambda v: f"{v / 1024:.1f} MiB", 2, ""),
    ]
    head = (f"log-on start (median of {runs})", "client", "yardstick", "ratio", "bare tray", "ratio", "goal",
            "Windows")
    table = [head]
    for label, fmt, i, windows in rows:
        table.append((f"{name}: {label}", fmt(client[i]), fmt(yard[i]), f"{client[i] / yard[i]:.2f}", fmt(tray[i]),
                      f"{client[i] / tray[i]:.2f}", "<= 1.2", windows))
    tb = shown_med["bare"]
    table.append((f"{name}: shown start to window", f"{shown_client * 1000:.0f} ms", "", "",
                  f"bare window {tb * 1000:.0f} ms", f"{shown_client / tb:.2f}", "<= 1.2", ""))
    return table


if __name__ == "__main__":
    sys.exit(main())
