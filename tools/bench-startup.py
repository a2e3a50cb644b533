#!/usr/bin/env python3
"""Prints the start-up figures of velBox.exe: the time from starting the
process to its window being on the (virtual) screen, against a bare Win32
program that creates and shows one empty window (tools/bench/bare_window.cpp),
measured in the same run and given as a ratio; and the size of velBox.exe.

  tools/bench-startup.py [BUILD_DIR] [--runs N] [--dpi 144]

Builds nothing: run it after building (cmake --build build/windows). It starts
the test harness of the build tree (virtual display, wineserver, stand-in
hosts) and stops it at the end. The programs run in turns, so both see the
same warm Wine; the figure of each is the median of its runs. With --dpi the
prefix's LogPixels is set for the run (144: 150 %) and put back afterwards.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def cache_value(build, name):
    for line in (build / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    sys.exit(f"{name} not in {build}/CMakeCache.txt")


def env_for(build):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(build / "wineprefix"), WINEDEBUG="-all", LC_ALL="zh_CN.UTF-8")
    env.setdefault("WINEDLLOVERRIDES", "mscoree=")
    for line in (build / "harness" / "lane0.env").read_text().splitlines():
        if line.startswith("export DISPLAY="):
            env["DISPLAY"] = line.split("=", 1)[1]
    return env


def visible(env, title):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title], env=env,
                       capture_output=True, timeout=10)
    return r.returncode == 0 and r.stdout.strip() != b""


def wine_reg(env, *args):
    return subprocess.run(["wine", "reg", *args], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=60)


def log_pixels(env, key):
    """The LogPixels value under the key, or None."""
    out = wine_reg(env, "query", key, "/v", "LogPixels").stdout.decode("utf-8", "replace")
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[0] == "LogPixels":
            return int(parts[2], 0)
    return None


def one_run(env, exe, title, timeout=60):
    """Seconds from the start of the process to its window being mapped."""
    began = time.perf_counter()
    p = subprocess.Popen(["wine", str(exe)], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        while time.perf_counter() - began < timeout:
            if visible(env, title):
                return time.perf_counter() - began
            time.sleep(0.002)
        sys.exit(f"{exe.name}: no window within {timeout} s")
    finally:
        p.kill()
        p.wait(timeout=30)
        # Let Wine settle (the window gone, the process ended) before the next run.
        deadline = time.time() + 10
        while visible(env, title) and time.time() < deadline:
            time.sleep(0.05)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build", nargs="?", default=str(ROOT / "build" / "windows"))
    ap.add_argument("--runs", type=int, default=9)
    ap.add_argument("--dpi", type=int, default=0, help="LogPixels for the run (96, 120, 144, 192)")
    args = ap.parse_args()
    build = Path(args.build).resolve()
    velbox = build / "velBox.exe"
    bare = build / "bare_window.exe"
    for f in (velbox, bare):
        if not f.exists():
            sys.exit(f"missing {f}: build first (cmake --build {build})")

    hosts = [cache_value(build, f"VELBOX_{r}_HOST") for r in ("WEB", "MUSIC", "UPDATE")]
    subprocess.run([str(ROOT / "tools" / "harness.sh"), "start", str(build), *hosts], check=True,
                   stdout=subprocess.DEVNULL)
    keys = (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts")
    before = {}
    try:
        env = env_for(build)
        if args.dpi:
            for key in keys:
                before[key] = log_pixels(env, key)
                wine_reg(env, "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(args.dpi), "/f")
        folder = build / "wineprefix" / "drive_c" / "velbox-bench"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for f in (velbox, bare, build / "Icon.ico"):
            shutil.copy2(f, folder / f.name)
        # One unmeasured run of each warms the prefix's caches.
        one_run(env, folder / bare.name, "bare window")
        one_run(env, folder / velbox.name, "Velmora")
        times = {"bare": [], "velBox": []}
        for _ in range(args.runs):
            times["bare"].append(one_run(env, folder / bare.name, "bare window"))
            times["velBox"].append(one_run(env, folder / velbox.name, "Velmora"))
        shutil.rmtree(folder, ignore_errors=True)
    finally:
        for key, value in before.items():
            if value is None:
                wine_reg(env, "delete", key, "/v", "LogPixels", "/f")
            else:
                wine_reg(env, "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(value), "/f")
        subprocess.run([str(ROOT / "tools" / "harness.sh"), "stop", str(build)], stdout=subprocess.DEVNULL)

    b = statistics.median(times["bare"])
    v = statistics.median(times["velBox"])
    size = velbox.stat().st_size
    print(f"bare window to shown:  {b * 1000:7.0f} ms  (median of {args.runs}: "
          + ", ".join(f"{t * 1000:.0f}" for t in times["bare"]) + ")")
    if args.dpi:
        print(f"at {args.dpi} dpi ({args.dpi * 100 // 96} %)")
    print(f"velBox to shown:       {v * 1000:7.0f} ms  (median of {args.runs}: "
          + ", ".join(f"{t * 1000:.0f}" for t in times["velBox"]) + ")")
    print(f"ratio velBox / bare:   {v / b:7.2f}   (target <= 1.5)")
    print(f"size of velBox.exe:    {size:7d} bytes = {size / 1048576:.2f} MiB  (target < 2 MiB)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
