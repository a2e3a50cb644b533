"""velUpdate.exe against a hostile update server: huge, endless and NUL-laden
manifests, versions of 100 000 parts, installer downloads that never end,
break off or fall silent; an installed version held open by another program. In every case the updater ends by itself in bounded
time, starts nothing, and leaves nothing outside "DownTmp" and nothing
inside it but a complete installer."""
import base64
import shutil
import time
import unittest

from tests.installer import publishing
from tests.support import vel
from tests.updater.test_updater import INSTALLER, manifest

GIB = 1 << 30
CFG = (b"<config><autorun>1</autorun><shortlnk>1</shortlnk><closetotray>1</closetotray>"
       b"<ver>1.2.3</ver></config>")


class HostileServerTest(unittest.TestCase):
    def setUp(self):
        vel.hosts_reset()
        # Hostile servers meet the updater that takes unsigned offers: with
        # nothing signed to check, it goes furthest.
        self.app = vel.InstallDir("uphostile", programs=(), installed=True)
        shutil.copy2(publishing.UNSIGNED_UPDATER, self.app.file("velUpdate.exe"))
        self.cfg = self.app.file("cfg.xml")
        self.cfg.write_bytes(CFG)
        self.down = self.app.file("DownTmp")
        self.beside = sorted(p.name for p in self.app.path.parent.iterdir())
        self.progs = []
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", body_file=str(INSTALLER))

    def tearDown(self):
        for p in self.progs:
            p.kill()
        self.app.remove()

    def requests(self, path):
        return [e for e in vel.hosts_log("update") if e["path"].split("?")[0] == path]

    def serve_manifest(self, text=None, **route):
        if isinstance(text, bytes):
            route["body_b64"] = base64.b64encode(text).decode()
        elif text is not None:
            route["body"] = text
        vel.hosts_route(path="/box/update.xml", host="update", **route)

    def run_updater(self, limit=60, watch=None):
        """Runs the updater to its end (at most `limit` s); `watch` is called
        every 0.2 s meanwhile. Returns the seconds it took."""
        p = vel.Program(self.app.file("velUpdate.exe"))
        self.progs.append(p)
        t0 = time.time()
        while p.running() and time.time() - t0 < limit:
            if watch:
                watch()
            time.sleep(0.2)
        took = time.time() - t0
        self.assertFalse(p.running(), f"the updater still runs after {limit} s")
        return took

    def assert_nothing_stored_or_started(self):
        names = sorted(p.name for p in self.app.path.iterdir())
        self.assertIn(names, (["cfg.xml", "velBox.exe", "velUpdate.exe"],
                              ["DownTmp", "cfg.xml", "velBox.exe", "velUpdate.exe"]))
        if self.down.exists():
            self.assertEqual(list(self.down.iterdir()), [])
        self.assertEqual(sorted(p.name for p in self.app.path.parent.iterdir()), self.beside)
        self.assertEqual(self.cfg.read_bytes(), CFG)

    def test_huge_and_endless_manifests(self):
        pad = "x" * (10 << 20)
        cases = {
            # Fields beyond the 16-bit positions are not found: no update.
            "10 MiB before the fields": (pad + manifest("1.2.4", delay="1"), 1),
            # An update, but its download fields lie out of reach.
            "10 MiB between version and fields": ("<version>1.2.4</version>" + pad + manifest("1.2.4", delay="1"), 2),
        }
        for name, (text, fetches) in cases.items():
            with self.subTest(name):
                vel.hosts_reset()
                self.serve_manifest(text)
                self.run_updater(60)
                self.assertEqual(len(self.requests("/box/update.xml")), fetches)
                self.assertEqual(self.requests("/box/VelmoraSetup.exe"), [])
                self.assert_nothing_stored_or_started()
        with self.subTest("endless"):
            vel.hosts_reset()
            self.serve_manifest(endless=True, hold=60)
            took = self.run_updater(40)
            # Given up once it is far longer than any manifest, not after
            # the three waits (15 s) of an unanswered request.
            self.assertLess(took, 14)
            self.assertEqual(len(self.requests("/box/update.xml")), 1)
            self.assert_nothing_stored_or_started()

    def test_nul_bytes_and_versions_of_many_parts(self):
        cases = {
            "NUL in the file name": manifest("1.2.4", exename="VelmoraSetup.exe\0.txt", delay="1").encode(),
            "UTF-16 without a mark": manifest("1.2.4", delay="1").encode("utf-16-le"),
            "NULs around an equal version": b"\0" * 4096 + manifest("1.2.3\0", delay="1").encode() + b"\0" * 4096,
            "100000 parts": manifest("1." * 99999 + "4", delay="1").encode(),
            "16000 parts, equal first three": manifest("1.2.3" + ".9" * 16000, delay="1").encode(),
        }
        for name, text in cases.items():
            with self.subTest(name):
                self.serve_manifest(text)
                self.assertLess(self.run_updater(60), 30)
                self.assert_nothing_stored_or_started()
        self.assertEqual(self.requests("/box/VelmoraSetup.exe"), [])
        with self.subTest("installed version of 100000 parts"):
            vel.hosts_reset()
            self.serve_manifest(manifest("1.2.4", delay="1"))
            installed = b"<config><ver>" + b"1." * 99999 + b"3</ver></config>"
            self.cfg.write_bytes(installed)
            self.run_updater(60)
            self.assertEqual(vel.hosts_log("update"), [])  # not even the manifest
            self.assertEqual(self.cfg.read_bytes(), installed)
            self.cfg.write_bytes(CFG)
        with self.subTest("installed version held open by another program"):
            vel.hosts_reset()
            self.serve_manifest(manifest("1.2.4", delay="1"))
            ready = self.app.path.parent / (self.app.path.name + "-lock.txt")
            locker = vel.Program(vel.BUILD / "velFileLock.exe", self.app.win("cfg.xml"), "none", "30",
                                 vel.windows_path(ready), cwd=self.app.path.parent)
            self.progs.append(locker)
            try:
                self.assertTrue(vel.wait_until(lambda: ready.exists() and ready.read_bytes() == b"locked", 30))
                self.run_updater(60)
                self.assertEqual(vel.hosts_log("update"), [])
            finally:
                locker.kill()
                ready.unlink(missing_ok=True)
            self.assert_nothing_stored_or_started()

    def test_download_that_never_ends_until_the_connection_drops(self):
        self.serve_manifest(manifest("1.2.4", delay="1", size=GIB))
        # About 1.3 MiB/s, announced as 1 GiB, dropped after 6 MiB.
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", endless=True, chunks=[65536],
                        chunk_delay=0.05, drop_after=6 << 20, headers={"Content-Length": str(GIB)})
        seen = set()

        def watch():
            if self.down.is_dir():
                seen.update(p.name for p in self.down.iterdir())
            names = {p.name for p in self.app.path.iterdir()} - {"DownTmp"}
            self.assertEqual(sorted(names), ["cfg.xml", "velBox.exe", "velUpdate.exe"])

        took = self.run_updater(60, watch)
        self.assertGreater(took, 3)
        # The body went to a temporary file only, never under the installer's name.
        self.assertTrue(seen, "no partial file seen")
        self.assertNotIn("VelmoraSetup.exe", seen)
        self.assertEqual(len(self.requests("/box/VelmoraSetup.exe")), 1)
        self.assert_nothing_stored_or_started()

    def test_endless_download_without_a_length_stops_past_the_announced_size(self):
        self.serve_manifest(manifest("1.2.4", delay="1", size=1 << 20))
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", endless=True, chunks=[65536],
                        chunk_delay=0.01, hold=120)
        self.assertLess(self.run_updater(60), 30)
        self.assert_nothing_stored_or_started()

    def test_silent_server_ends_the_download(self):
        # Half the installer, then silence on an open connection (a server
        # without an answer at all is a unit test's case).
        size = INSTALLER.stat().st_size
        self.serve_manifest(manifest("1.2.4", delay="1", size=size))
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", body_file=str(INSTALLER),
                        stall_after=size // 2, hold=200)
        took = self.run_updater(120)
        # Ended by its own limit on silence (60 s), long before the server lets go.
        self.assertGreater(took, 55)
        self.assertLess(took, 100)
        self.assert_nothing_stored_or_started()


if __name__ == "__main__":
    unittest.main()
