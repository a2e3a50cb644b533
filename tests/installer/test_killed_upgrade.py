"""An upgrade killed at many points: the installer of the next revision is
killed (SIGKILL, by strace at its N-th write system call, N spread over
its run: most of its writes are the program files' data and its requests to
the wineserver) while it upgrades this build's installation, with the client hidden in
the tray during half of the runs. Every time, each program file is byte for
byte the old or the new one, the client starts, and the next upgrade
completes and leaves nothing of the cut-off one behind.

And the order that makes a power cut harmless, as seen from outside: each
program file's content is flushed (fsync in the installer's process) before
the wineserver renames it into place.

VELBOX_KILL_POINTS sets how many kill points run (12 by default;
tools/kill-upgrade.sh runs more and prints the table)."""
import collections
import os
import random
import re
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

from tests.installer import test_installer as ti
from tests.support import vel

POINTS = int(os.environ.get("VELBOX_KILL_POINTS", "12"))
PROGRAM_FILES = ("velBox.exe", "velUpdate.exe", "Icon.ico", "uninst.exe", "uninst.lst")
WINESERVER_PID = vel.BUILD / "harness" / f"lane{vel.LANE}" / "wineserver.pid"


def strace(*args, **kw):
    return subprocess.run(["strace", *map(str, args)], env=vel.wine_env(), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=kw.get("timeout", 180))


def wine_command(*args):
    return [str(vel.WINE_RUN), "--build", str(vel.BUILD), *map(str, args)]


def write_counts(trace):
    """Per process id: how many write calls it had made at each traced line,
    and the lines (pid, count, call, text)."""
    counts = collections.Counter()
    lines = []
    for line in Path(trace).read_text(errors="replace").splitlines():
        m = re.match(r"(\d+)\s+(?:[\d.]+\s+)?(\w+)\((.*)", line)
        if not m:
            continue
        pid, call, rest = m.groups()
        if call == "write":
            counts[pid] += 1
        lines.append((pid, counts[pid], call, rest))
    return counts, lines


class KilledUpgradeTest(ti.Base):
    def setUp(self):
        super().setUp()
        self.assertTrue(shutil.which("strace"), "strace is not installed")
        self.temp_before = set((vel.DRIVE_C / "users" / ti.USER / "Temp").glob("ns*.tmp"))
        # The uninstallers each installer writes, as the references.
        self.old, self.new = {}, {}
        for installer, build, files in ((ti.NEXT_INSTALLER, ti.NEXT_BUILD, self.new),
                                        (ti.INSTALLER, vel.BUILD, self.old)):
            self.assertEqual(ti.install(installer, "/S"), 0)
            for name in PROGRAM_FILES:
                files[name] = (ti.PF / name).read_bytes()
        for name in ("velBox.exe", "velUpdate.exe"):
            self.assertEqual(self.old[name], (vel.BUILD / name).read_bytes())
            self.assertEqual(self.new[name], (ti.NEXT_BUILD / name).read_bytes())
        self.assertNotEqual(self.old["velBox.exe"], self.new["velBox.exe"])

    def tearDown(self):
        # A killed installer leaves its plug-in folder in the user's Temp,
        # as on Windows; not the product's, but the prefix is copied for
        # other tests.
        for d in (vel.DRIVE_C / "users" / ti.USER / "Temp").glob("ns*.tmp"):
            if d.is_dir() and d not in self.temp_before:
                shutil.rmtree(d, ignore_errors=True)
        super().tearDown()

    def which(self, name):
        """"old", "new" ("whole" for a file both revisions ship alike), or
        what else the file is."""
        path = ti.PF / name
        if not path.exists():
            return "missing"
        data = path.read_bytes()
        if data == self.old[name] == self.new[name]:
            return "whole"
        return "old" if data == self.old[name] else "new" if data == self.new[name] else f"torn ({len(data)} bytes)"

    def work_window(self):
        """The range of the upgrade's write calls from shortly before its
        first program file is written to its end, from one traced run."""
        trace = self.work / "reference.trace"
        r = strace("-f", "-y", "-o", trace, "-e", "trace=write", *wine_command(ti.NEXT_INSTALLER, "/S"))
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        counts, lines = write_counts(trace)
        main = counts.most_common(1)[0][0]
        first = next(n for pid, n, call, rest in lines if pid == main and "/velBox.exe" in rest.split(",")[0])
        return max(1, first - 20), counts[main]

    def start_client(self):
        client = self.start(ti.PF / "velBox.exe", "/regstart")
        self.client_window()
        return client

    def test_every_file_is_old_or_new_after_a_kill_at_any_point(self):
        start, end = self.work_window()
        rng = random.Random(int(os.environ.get("VELBOX_KILL_SEED", str(int(time.time())))))
        # Most points fall in the upgrade proper, some anywhere in the run.
        points = sorted(rng.randint(start, end) if i % 4 else rng.randint(1, end) for i in range(POINTS))
        table = []
        for i, n in enumerate(points):
            running = i % 2 == 1
            with self.subTest(point=n, running=running):
                self.assertEqual(ti.install(ti.INSTALLER, "/S"), 0)
                client = self.start_client() if running else None
                r = strace("-f", "-o", "/dev/null", "-e", "trace=write", "-e", f"inject=write:signal=KILL:when={n}",
                           *wine_command(ti.NEXT_INSTALLER, "/S"))
                killed = r.returncode != 0
                if client:
                    # The client runs on through the upgrade, and ends as the
                    # user ends it.
                    self.assertTrue(client.running())
                    client.stop()
                files = {name: self.which(name) for name in PROGRAM_FILES}
                self.assertEqual([f for f in files.values() if f not in ("old", "new", "whole")], [], files)

                # The client starts from what is there.
                started = self.start_client()
                self.assertTrue(started.running())
                started.stop()

                # The next upgrade completes and clears what the cut-off one left.
                self.assertEqual(ti.install(ti.NEXT_INSTALLER, "/S"), 0)
                self.assertEqual({name: self.which(name) for name in PROGRAM_FILES}, self.upgraded())
                self.assertEqual(sorted(p.name for p in ti.PF.iterdir()), sorted((*PROGRAM_FILES, "cfg.xml")))
                table.append((n, "client running" if running else "no client", "killed" if killed else "completed",
                              files))
        print(f"\nkill points: {len(table)}, most between write calls {start} and {end} of {end}", file=sys.stderr)
        outcomes = collections.Counter()
        for n, client, ending, files in table:
            print(f"KILL {n:6d}  {client:14s}  {ending:9s}  "
                  + "  ".join(f"{name} {files[name]}" for name in PROGRAM_FILES), file=sys.stderr)
            outcomes[(ending, tuple(files[name] for name in PROGRAM_FILES))] += 1
        for (ending, files), count in sorted(outcomes.items()):
            print(f"OUTCOME {count:4d} x {ending:9s} " + " ".join(files), file=sys.stderr)

    def test_each_file_is_flushed_before_it_gets_its_name(self):
        self.assertEqual(ti.install(ti.INSTALLER, "/S"), 0)
        server_trace = self.work / "server.trace"
        installer_trace = self.work / "installer.trace"
        # Renames are made by the wineserver, the flushes by the installer.
        watcher = subprocess.Popen(["strace", "-I1", "-ttt", "-s", "4096", "-o", str(server_trace), "-e",
                                    "trace=rename,renameat,renameat2", "-p", WINESERVER_PID.read_text().strip()],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            self.assertIn(b"attached", watcher.stderr.readline())
            r = strace("-f", "-y", "-ttt", "-o", installer_trace, "-e", "trace=fsync,fdatasync",
                       *wine_command(ti.NEXT_INSTALLER, "/S"))
            self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        finally:
            watcher.terminate()
            watcher.wait(30)
            watcher.stderr.close()
        events = []
        for trace in (server_trace, installer_trace):
            for line in trace.read_text(errors="replace").splitlines():
                m = re.match(r"(?:\d+\s+)?([\d.]+)\s+(\w+)\((.*)\)\s+=\s+0", line)
                if m:
                    events.append((float(m.group(1)), m.group(2), m.group(3)))
        events.sort()
        for name in PROGRAM_FILES:
            with self.subTest(file=name):
                temp = re.compile(re.escape(name) + r"\.\d+\.tmp")
                flushed = [t for t, call, args in events if call in ("fsync", "fdatasync") and temp.search(args)]
                renamed = []
                for t, call, args in events:
                    paths = re.findall(r'"((?:[^"\\]|\\.)*)"', args)
                    if call.startswith("rename") and len(paths) == 2 and temp.search(paths[0]) \
                            and paths[1].endswith("/" + name):
                        renamed.append(t)
                self.assertEqual(len(renamed), 1, events)
                self.assertTrue(flushed and flushed[0] < renamed[0], (flushed, renamed))
        self.assertEqual({name: self.which(name) for name in PROGRAM_FILES}, self.upgraded())

    def upgraded(self):
        return {name: "whole" if self.old[name] == self.new[name] else "new" for name in PROGRAM_FILES}


if __name__ == "__main__":
    unittest.main()
