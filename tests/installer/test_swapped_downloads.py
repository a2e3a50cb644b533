"""DownTmp swapped for a link while the uninstaller clears it: a Windows
process in the same prefix (fsdriver.exe swap, so that share modes apply to
it) moves the installation's DownTmp aside and back again and again for the
whole uninstall, and each time the test puts a link to a folder of the
user's files, named as the updater names its downloads and temporary files,
in its place for a moment (Wine's rename would follow the link, and Wine
makes none). The uninstaller holds
DownTmp, once it has seen that it is DownTmp itself, so that it cannot be
swapped while it works in it, and decides and deletes on each entry's own
handle: in every run not one of the user's files is lost.

VELBOX_SWAP_RUNS sets the runs (3 by default; tools/swap-downtmp.sh runs
more and prints the table)."""
import os
import subprocess
import sys
import threading
import time
import unittest

from tests.installer import test_installer as ti
from tests.support import vel

RUNS = int(os.environ.get("VELBOX_SWAP_RUNS", "3"))
DOWNLOADS = 20


class SwappedDownloadsTest(ti.Base):
    def user_folder(self, run):
        user = self.work / f"user-{run}"
        user.mkdir()
        # The downloads' own names among them: a delete by name through the
        # link would take these.
        names = ([f"VelmoraSetup-1.0.{i}.exe" for i in range(DOWNLOADS)] + [f"setup-{i}.exe" for i in range(10)]
                 + [f"VelmoraSetup-{i}.exe.{100 + i}-1.tmp" for i in range(5)]
                 + [f"~velUpdate-{i:016x}.tmp" for i in range(5)])
        for n in names:
            (user / n).write_bytes(b"the user's " + n.encode())
        return user, names

    @staticmethod
    def link_while_aside(down, target, stop, linked):
        """Puts a link to `target` where DownTmp was, for a moment, each time
        the swapper has moved it aside, until `stop` exists."""
        real = down.parent / "DownTmp.real"
        while not stop.exists():
            if os.path.lexists(down) or not real.exists():
                time.sleep(0.0002)
                continue
            try:
                down.symlink_to(target)
            except FileExistsError:
                continue
            linked.append(time.monotonic())
            time.sleep(0.002)
            down.unlink()
            # Once each time it was moved aside.
            while real.exists() and not stop.exists():
                time.sleep(0.0002)

    def test_no_file_outside_downtmp_is_lost_when_it_is_swapped_for_a_link(self):
        table = []
        for run in range(RUNS):
            with self.subTest(run=run):
                self.assertEqual(ti.install(ti.INSTALLER, "/S"), 0)
                user, names = self.user_folder(run)
                down = ti.PF / "DownTmp"
                down.mkdir()
                for i in range(DOWNLOADS):
                    (down / f"VelmoraSetup-1.0.{i}.exe").write_bytes(b"MZ offered")
                (ti.PF / "DownTmp.link").symlink_to(user)
                stop = self.work / f"stop-{run}"
                said = self.work / f"swapper-{run}.out"
                with open(said, "wb") as out:
                    swapper = subprocess.Popen(
                        [str(vel.WINE_RUN), "--build", str(vel.BUILD), str(ti.FSDRIVER), "swap", ti.PF_WIN,
                         vel.windows_path(stop)],
                        env=vel.wine_env(), stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
                self.addCleanup(swapper.kill)
                self.assertTrue(vel.wait_until(lambda: said.read_bytes().startswith(b"swapping"), 30, step=0.05),
                                "the swapper did not start")
                linked = []
                linker = threading.Thread(target=self.link_while_aside, args=(down, user, stop, linked))
                linker.start()
                ti.wine(ti.PF / "uninst.exe", "/S")
                done = vel.wait_until(lambda: ti.reg_values(ti.UNINST_KEY) is None
                                      and not (ti.PF / "uninst.exe").exists(), 60, step=0.2)
                stop.touch()
                linker.join(30)
                swapper.wait(30)
                counts = said.read_text().split()[1:] + ["linked", str(len(linked))]
                self.assertTrue(done, "the uninstaller did not finish")
                lost = [n for n in names if not (user / n).exists()]
                changed = [n for n in names if (user / n).exists() and (user / n).read_bytes() != b"the user's " + n.encode()]
                # DownTmp is the folder again, or was never entered.
                left = sorted(p.name for p in down.iterdir()) if down.is_dir() and not down.is_symlink() else []
                table.append((run, counts, len(left), len(lost)))
                self.assertEqual((lost, changed), ([], []))
                self.assertFalse(down.is_symlink())
                self.assertTrue(linked, "no link stood in DownTmp's place")
                self.assertIn(len(left), (0, DOWNLOADS))
                ti.scrub()
        print(f"\nswap runs: {len(table)}, {DOWNLOADS} downloads in DownTmp, {len(names)} files of the user's behind the link",
              file=sys.stderr)
        for run, counts, left, lost in table:
            entered = "cleared" if left == 0 else "not entered"
            print(f"SWAP {run:4d}  {' '.join(counts):36s}  DownTmp {entered:11s}  user files lost {lost}",
                  file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
