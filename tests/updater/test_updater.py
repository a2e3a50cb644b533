"""velUpdate.exe from start to end in an install folder of its own, against
the stand-in update server: no update ends at once without a window; a newer
version is downloaded into DownTmp, started after the delay, and the updater
ends; hostile manifests fetch, store and start nothing. The build with the
test key (velUpdate_signed.exe) takes only offers signed with it, and
starts only the installer they name by its hash."""
import base64
import shutil
import tempfile
import time
import unittest
from pathlib import Path

from tests.installer import publishing
from tests.support import vel

CAPTION_CLIENT = "200x78"
INSTALLER = vel.BUILD / "velTestInstaller.exe"
UPDATE = vel.HOSTS["update"]


def manifest(version, exename="VelmoraSetup.exe", delay="5", size=None, extra=""):
    size = INSTALLER.stat().st_size if size is None else size
    fields = [f"<version>{version}</version>",
              f"<downurl>http://{UPDATE}/box/VelmoraSetup.exe</downurl>",
              f"<exename>{exename}</exename>",
              f"<filesize>{size}</filesize>"]
    if delay is not None:
        fields.append(f"<opendownfile>{delay}</opendownfile>")
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<update>" + "\r\n".join(fields) + extra + "</update>"


class Probe:
    """Watches the updater's window from inside Wine (velTestInstaller probe)."""

    def __init__(self, app, seconds):
        self.file = app.file("probe.log")
        self.prog = vel.Program(INSTALLER, "probe", str(seconds), app.win("probe.log"), cwd=app.path)
        vel.wait_until(lambda: self.file.exists(), 30)

    def states(self):
        out = []
        for line in self.file.read_text().splitlines():
            parts = line.split(" ", 1)
            if len(parts) == 2:
                out.append((float(parts[0]), parts[1]))
        return out

    def visible_span(self):
        """(first, last) times the window was seen visible, or None."""
        st = self.states()
        first = next((t for t, s in st if s.startswith("visible")), None)
        if first is None:
            return None
        after = [t for t, s in st if t > first and not s.startswith("visible")]
        return first, (after[0] if after else None)

    def stop(self):
        self.prog.kill()


class UpdaterFlowTest(unittest.TestCase):
    """The flow of unsigned offers, as the updater of a build with
    VELBOX_UNSIGNED_UPDATES=ON has it."""

    def setUp(self):
        vel.hosts_reset()
        self.app = vel.InstallDir("updater", programs=(), installed=True)
        shutil.copy2(publishing.UNSIGNED_UPDATER, self.app.file("velUpdate.exe"))
        self.app.file("cfg.xml").write_bytes(
            b"<config><autorun>1</autorun><shortlnk>1</shortlnk><closetotray>1</closetotray>"
            b"<ver>1.2.3</ver></config>")
        self.progs = []
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", body_file=str(INSTALLER))

    def tearDown(self):
        for p in self.progs:
            p.kill()
        self.app.remove()

    def start(self):
        p = vel.Program(self.app.file("velUpdate.exe"))
        self.progs.append(p)
        return p

    def probe(self, seconds):
        p = Probe(self.app, seconds)
        self.progs.append(p.prog)
        return p

    def requests(self, path):
        return [e for e in vel.hosts_log("update") if e["path"].split("?")[0] == path]

    def marker(self, name="VelmoraSetup.exe"):
        return self.app.file("DownTmp") / (name + ".ran")

    def run_update(self, text, timeout=60):
        vel.hosts_route(path="/box/update.xml", host="update", body=text)
        probe = self.probe(timeout)
        p = self.start()
        t0 = time.time()
        p.wait(timeout)
        ended = time.time()
        # The probe has seen the window go (or never come).
        vel.wait_until(lambda: probe.states() and probe.states()[-1][1] == "none", 10)
        return probe, t0, ended

    def test_no_update_ends_at_once_without_a_window(self):
        probe, t0, ended = self.run_update(manifest("1.2.3"))
        self.assertIsNone(probe.visible_span(), probe.states())
        self.assertLess(ended - t0, 15)
        self.assertEqual(len(self.requests("/box/update.xml")), 1)
        self.assertEqual(self.requests("/box/VelmoraSetup.exe"), [])
        self.assertFalse(self.app.file("DownTmp").exists())

    def test_what_killed_runs_left_goes_at_the_next_start_and_nothing_else(self):
        down = self.app.file("DownTmp")
        down.mkdir()
        (down / "VelmoraSetup.exe").write_bytes(b"MZ an installer it kept")
        (down / "VelmoraSetup.exe.4321-1.tmp").write_bytes(b"MZ cut short")
        (down / "probe.4321-2.tmp").write_bytes(b"")
        (down / "~velUpdate-0123456789abcdef.tmp").write_bytes(b"MZ cut short")
        (down / "notes.tmp").write_bytes(b"the user's")
        (down / "report.2023-01.tmp").write_bytes(b"the user's")
        # A link of the updater's naming to a file of the user's elsewhere.
        mine = self.app.path.parent / (self.app.path.name + "-mine.exe")
        mine.write_bytes(b"the user's own")
        self.addCleanup(mine.unlink, missing_ok=True)
        (down / "VelmoraSetup.exe.77-1.tmp").symlink_to(mine)
        self.run_update(manifest("1.2.3"))  # nothing on offer
        self.assertEqual(sorted(p.name for p in down.iterdir()),
                         ["VelmoraSetup.exe", "VelmoraSetup.exe.77-1.tmp", "notes.tmp", "report.2023-01.tmp"])
        self.assertEqual((down / "VelmoraSetup.exe").read_bytes(), b"MZ an installer it kept")
        self.assertEqual(mine.read_bytes(), b"the user's own")

    def test_a_copy_of_the_installation_checks_but_downloads_nothing(self):
        # The entry records another folder: this one is a copy of the
        # installation (a backup, a portable run).
        original = vel.InstallDir("updater-original")
        self.addCleanup(shutil.rmtree, original.path, True)
        rc, out = vel.reg("add", vel.UNINSTALL_KEY, "/v", "InstallLocation", "/d", original.win(), "/f", "/reg:32")
        self.assertEqual(rc, 0, out)
        probe, t0, ended = self.run_update(manifest("1.10.0", delay="1"))
        self.assertIsNone(probe.visible_span(), probe.states())
        self.assertTrue(self.requests("/box/update.xml"))
        self.assertEqual(self.requests("/box/VelmoraSetup.exe"), [])
        self.assertFalse(self.app.file("DownTmp").exists())

    def test_newer_version_is_downloaded_started_after_the_delay_and_the_updater_ends(self):
        probe, t0, ended = self.run_update(manifest("1.10.0", delay="5"))
        span = probe.visible_span()
        self.assertIsNotNone(span, probe.states())
        shown_states = [s for _, s in probe.states() if s.startswith("visible")]
        self.assertIn("visible " + CAPTION_CLIENT, shown_states)
        installer = self.app.file("DownTmp") / "VelmoraSetup.exe"
        self.assertEqual(installer.read_bytes(), INSTALLER.read_bytes())
        # The started installer leaves its marker when it runs, which may be
        # after the updater ended.
        self.assertTrue(vel.wait_until(self.marker().exists, 20))
        self.assertEqual(sorted(p.name for p in self.app.file("DownTmp").iterdir()),
                         ["VelmoraSetup.exe", "VelmoraSetup.exe.ran"])
        launched = self.marker().stat().st_mtime
        # The window stays for the delay (5 s, not the 1 s of a missing
        # delay), then the installer starts; the bounds leave room for a
        # probe and a process start that lag on a loaded machine.
        self.assertGreater(launched - span[0], 3.5)
        self.assertLess(launched - span[0], 12.0)
        self.assertIsNotNone(span[1], "the window did not go")
        self.assertGreater(span[1] - span[0], 3.5)
        self.assertLess(span[1] - span[0], 10.0)
        self.assertEqual(len(self.requests("/box/update.xml")), 2)
        downloads = self.requests("/box/VelmoraSetup.exe")
        self.assertEqual(len(downloads), 1)
        self.assertEqual(downloads[0]["headers"].get("User-Agent"), "VB OpenUrl")

    def test_closing_the_window_during_the_delay_starts_nothing(self):
        closer = vel.Program(INSTALLER, "close", cwd=self.app.path)
        self.progs.append(closer)
        probe, t0, ended = self.run_update(manifest("1.2.4", delay="8"))
        span = probe.visible_span()
        self.assertIsNotNone(span, probe.states())
        self.assertLess(ended - span[0], 7.0)  # before the 8 s were up
        self.assertTrue(vel.never_started(self.app.file("DownTmp") / "VelmoraSetup.exe", self.marker()))
        self.assertTrue((self.app.file("DownTmp") / "VelmoraSetup.exe").exists())

    def test_short_or_missing_delay_is_one_second_and_an_existing_installer_is_reused(self):
        for delay in ("0", "-3", None):
            with self.subTest(delay=delay):
                if self.marker().exists():
                    self.marker().unlink()
                self.app.file("probe.log").unlink(missing_ok=True)
                probe, t0, ended = self.run_update(manifest("1.2.4", delay=delay))
                span = probe.visible_span()
                self.assertIsNotNone(span, probe.states())
                self.assertIsNotNone(span[1])
                self.assertGreater(span[1] - span[0], 0.5)
                self.assertLess(span[1] - span[0], 3.5)  # 1 s, not the 5 s of the others
                self.assertTrue(vel.wait_until(self.marker().exists, 20))
        # Downloaded by the first run only.
        self.assertEqual(len(self.requests("/box/VelmoraSetup.exe")), 1)

    def test_second_copy_ends_at_once_without_contacting_the_server(self):
        vel.hosts_route(path="/box/update.xml", host="update", never_answer=True, hold=30)
        probe = self.probe(40)
        first = self.start()
        self.assertTrue(vel.wait_until(lambda: self.requests("/box/update.xml"), 30))
        t0 = self.requests("/box/update.xml")[0]["time"]
        second = self.start()
        second.wait(30)
        self.assertTrue(first.running())
        # The first copy asks every 5 s and gives up after three waits; the
        # last request goes out as it ends (and nothing after it can).
        first.wait(40)
        vel.wait_until(lambda: len(self.requests("/box/update.xml")) >= 4, 10)
        times = [e["time"] for e in self.requests("/box/update.xml")]
        self.assertEqual(len(times), 4, times)
        # Each one after a wait of 5 s, plus what sending anew costs on a
        # loaded machine.
        for a, b in zip(times, times[1:]):
            self.assertGreater(b - a, 4.8, times)
            self.assertLess(b - a, 7.5, times)
        self.assertIsNone(probe.visible_span(), probe.states())
        self.assertFalse(self.app.file("DownTmp").exists())

    def test_hostile_manifests_store_and_start_nothing(self):
        drive_c = vel.DRIVE_C
        cases = [
            manifest("1.2.4", exename="..\\x.exe", delay="1"),
            manifest("1.2.4", exename="C:\\x.exe", delay="1"),
            manifest("1.2.4", exename="a/b.exe", delay="1"),
            manifest("1.2.4", exename="con:", delay="1"),
            manifest("1.2.4", exename="NUL.exe", delay="1"),
            manifest("1.2.4", exename="", delay="1"),
        ]
        for text in cases:
            with self.subTest(manifest=text):
                self.app.file("probe.log").unlink(missing_ok=True)
                probe, t0, ended = self.run_update(text)
                self.assertIsNone(probe.visible_span(), probe.states())
                self.assertEqual(sorted(p.name for p in self.app.path.iterdir()),
                                 ["cfg.xml", "probe.log", "velBox.exe", "velUpdate.exe"])
        self.assertFalse((drive_c / "x.exe").exists())
        self.assertFalse((drive_c / "x.exe.ran").exists())
        self.assertFalse((self.app.path.parent / "x.exe").exists())
        self.assertEqual(self.requests("/box/VelmoraSetup.exe"), [])

    def test_error_page_or_broken_download_starts_nothing(self):
        size = INSTALLER.stat().st_size
        for route in ({"status": 404, "body": "<html>404 Not Found</html>"},
                      {"body_file": str(INSTALLER), "drop_after": size // 2}):
            with self.subTest(route=route):
                vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", **route)
                self.app.file("probe.log").unlink(missing_ok=True)
                probe, t0, ended = self.run_update(manifest("1.2.4", delay="1"))
                self.assertIsNone(probe.visible_span(), probe.states())
                self.assertEqual(list(self.app.file("DownTmp").iterdir()), [])

    def test_downtmp_as_a_file_is_left_alone(self):
        self.app.file("DownTmp").write_bytes(b"keep")
        probe, t0, ended = self.run_update(manifest("1.2.4", delay="1"))
        self.assertIsNone(probe.visible_span(), probe.states())
        self.assertEqual(self.app.file("DownTmp").read_bytes(), b"keep")
        self.assertEqual(sorted(p.name for p in self.app.path.iterdir()),
                         ["DownTmp", "cfg.xml", "probe.log", "velBox.exe", "velUpdate.exe"])


class OfferFixture:
    """An installed updater of version 1.2.3 (the build's, or UPDATER) and an
    installer to offer it."""
    NAME = "offer"
    UPDATER = None

    def setUp(self):
        vel.hosts_reset()
        if self.UPDATER is None:
            self.app = vel.InstallDir(self.NAME, programs=("velUpdate.exe",), installed=True)
        else:
            self.app = vel.InstallDir(self.NAME, programs=(), installed=True)
            shutil.copy2(self.UPDATER, self.app.file("velUpdate.exe"))
        self.app.file("cfg.xml").write_bytes(b"<config><ver>1.2.3</ver></config>")
        self.work = Path(tempfile.mkdtemp(prefix=self.NAME + "-"))
        self.installer = self.work / "VelmoraSetup.exe"
        shutil.copy2(INSTALLER, self.installer)
        self.progs = []

    def tearDown(self):
        for p in self.progs:
            p.kill()
        self.app.remove()
        shutil.rmtree(self.work, ignore_errors=True)
        vel.hosts_reset()

    def downloads(self):
        return [e for e in vel.hosts_log("update") if e["path"].split("?")[0] == "/box/VelmoraSetup.exe"]


class DefaultUpdaterTest(OfferFixture, unittest.TestCase):
    """The updater as it ships: it carries the build's key (this build
    tree's throwaway one) and takes only offers signed with it, until they
    expire."""

    NAME = "default"

    def run_updater(self, timeout=60):
        p = vel.Program(self.app.file("velUpdate.exe"))
        self.progs.append(p)
        t0 = time.time()
        p.wait(timeout)
        return time.time() - t0

    def assertNothingFetchedOrStarted(self):
        self.assertEqual(self.downloads(), [])
        self.assertFalse(self.app.file("DownTmp").exists())
        self.assertTrue(vel.never_started(self.app.file("DownTmp") / "VelmoraSetup.exe",
                                          self.app.file("DownTmp") / "VelmoraSetup.exe.ran"))

    def test_an_unsigned_offer_is_no_update(self):
        vel.hosts_route(path="/box/update.xml", host="update", body=manifest("1.2.4", delay="1"))
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", body_file=str(self.installer))
        self.run_updater()
        self.assertEqual(len([e for e in vel.hosts_log("update") if e["path"].startswith("/box/update.xml")]), 2)
        self.assertNothingFetchedOrStarted()

    def test_an_expired_or_far_future_offer_is_no_update(self):
        # Signed with the right key: only the expiry stands in the way.
        for expires in ("2001-01-01T00:00:00Z", "9999-12-31T23:59:59Z"):
            with self.subTest(expires=expires):
                vel.hosts_reset()
                publishing.publish(self.installer, self.work, version="1.2.4", key=publishing.BUILD_KEY,
                                   expires=expires)
                self.run_updater()
                self.assertNothingFetchedOrStarted()
        # The same offer ending in two weeks is taken.
        vel.hosts_reset()
        publishing.publish(self.installer, self.work, version="1.2.4", key=publishing.BUILD_KEY)
        self.run_updater()
        self.assertTrue(vel.wait_until((self.app.file("DownTmp") / "VelmoraSetup.exe.ran").exists, 20))
        self.assertEqual(len(self.downloads()), 1)

    def test_a_trickling_download_ends_at_its_deadline_with_nothing_kept(self):
        # The quick build: a deadline of 3 s plus the size at 64 KiB/s, and
        # 3 s of silence at most; the server sends a byte a second, so only
        # the deadline can end it.
        shutil.copy2(vel.QUICK / "velUpdate.exe", self.app.file("velUpdate.exe"))
        publishing.publish(self.installer, self.work, version="1.2.4", key=publishing.BUILD_KEY)
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", body_file=str(self.installer),
                        chunks=[1], chunk_delay=1.0, hold=120)
        deadline = 3 + self.installer.stat().st_size / 65536
        took = self.run_updater(120)
        asked = self.downloads()
        self.assertEqual(len(asked), 1)
        # It ended at the deadline (the process had its start and the
        # manifest before the download), not when the server let go.
        self.assertGreater(took, deadline)
        self.assertLess(took, deadline + 30)
        self.assertEqual(list(self.app.file("DownTmp").iterdir()), [])
        self.assertTrue(vel.never_started(self.app.file("DownTmp") / "VelmoraSetup.exe",
                                          self.app.file("DownTmp") / "VelmoraSetup.exe.ran"))
        print(f"\n  trickling download given up after {took:.1f} s (deadline {deadline:.1f} s)", flush=True)


class SignedUpdaterTest(OfferFixture, unittest.TestCase):
    """Offers published by tools/publish-update.py, signed through openssl."""

    NAME = "signed"
    UPDATER = publishing.SIGNED_UPDATER

    def publish(self, key=publishing.TEST_KEY, version="1.2.4"):
        manifest, _ = publishing.publish(self.installer, self.work, delay=1, version=version, key=key)
        return manifest.read_text(encoding="utf-8")

    def serve(self, text, body=None):
        vel.hosts_route(path="/box/update.xml", host="update", body=text)
        if body is not None:
            vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", body_b64=body)

    def run_updater(self, exe=None, timeout=60):
        p = vel.Program(exe or self.app.file("velUpdate.exe"))
        self.progs.append(p)
        p.wait(timeout)

    def marker(self):
        return self.app.file("DownTmp") / "VelmoraSetup.exe.ran"

    def assertStarted(self):
        self.assertTrue(vel.wait_until(self.marker().exists, 20), "the installer was not started")
        self.assertEqual((self.app.file("DownTmp") / "VelmoraSetup.exe").read_bytes(), INSTALLER.read_bytes())

    def assertNothingStarted(self):
        self.assertTrue(vel.never_started(self.app.file("DownTmp") / "VelmoraSetup.exe", self.marker()))

    def test_signed_offer_is_downloaded_checked_and_started(self):
        text = self.publish()
        self.assertIn("<signature>", text)
        self.run_updater()
        self.assertStarted()
        self.assertEqual(sorted(p.name for p in self.app.file("DownTmp").iterdir()),
                         ["VelmoraSetup.exe", "VelmoraSetup.exe.ran"])
        self.assertEqual(len(self.downloads()), 1)

    def test_tampered_or_unsigned_offers_fetch_and_start_nothing(self):
        good = self.publish()
        other = self.publish(key=publishing.OTHER_KEY)
        unsigned = publishing.publish_update.manifest(str(self.installer),
                                                       f"http://{UPDATE}/box/", 1, version="1.2.4")
        sig = good.split("<signature>")[1].split("</signature>")[0]
        cases = {
            "version raised": good.replace("<version>1.2.4<", "<version>1.2.5<"),
            "downurl changed": good.replace("/box/VelmoraSetup.exe<", "/box/Other.exe<"),
            "exename changed": good.replace(">VelmoraSetup.exe<", ">Other.exe<"),
            "signature removed": good.replace(f"<signature>{sig}</signature>", ""),
            "signature of another key": other,
            "unsigned": unsigned,
        }
        vel.hosts_route(path="/box/Other.exe", host="update", body_file=str(self.installer))
        for name, text in cases.items():
            with self.subTest(name):
                self.assertNotEqual(text, good)
                self.serve(text)
                self.run_updater()
                self.assertNothingStarted()
                self.assertFalse(self.app.file("DownTmp").exists())
        self.assertEqual(self.downloads(), [])
        self.assertFalse([e for e in vel.hosts_log("update") if e["path"].startswith("/box/Other.exe")])
        # The installer changed by one byte on the way: fetched, not kept.
        body = bytearray(INSTALLER.read_bytes())
        body[len(body) // 2] ^= 0xFF
        self.serve(good, base64.b64encode(bytes(body)).decode())
        self.run_updater()
        self.assertNothingStarted()
        self.assertEqual(list(self.app.file("DownTmp").iterdir()), [])
        self.assertEqual(len(self.downloads()), 1)

    def test_unsigned_manifest_is_taken_without_a_key_and_signed_ones_too(self):
        unsigned = publishing.publish_update.manifest(str(self.installer),
                                                       f"http://{UPDATE}/box/", 1, version="1.2.4")
        self.serve(unsigned)
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", body_file=str(self.installer))
        self.run_updater()
        self.assertNothingStarted()
        # The build without a key: as it always was, and a signed manifest
        # does not trouble it.
        shutil.copy2(publishing.UNSIGNED_UPDATER, self.app.file("velUpdate.exe"))
        self.run_updater()
        self.assertStarted()
        shutil.rmtree(self.app.file("DownTmp"))
        self.publish()
        self.run_updater()
        self.assertStarted()

    def test_installer_in_downtmp_with_another_hash_is_not_started(self):
        self.publish()
        # Same size, one byte off (in the padding at the end: it still runs).
        body = bytearray(INSTALLER.read_bytes())
        body[-1] ^= 0x01
        self.app.file("DownTmp").mkdir()
        planted = self.app.file("DownTmp") / "VelmoraSetup.exe"
        planted.write_bytes(bytes(body))
        # With the server's copy gone, nothing is started at all.
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", status=404, body="gone")
        self.run_updater()
        self.assertNothingStarted()
        self.assertEqual(planted.read_bytes(), bytes(body))
        # The build without a key takes it as it is: it would have run.
        shutil.copy2(publishing.UNSIGNED_UPDATER, self.app.file("plain.exe"))
        self.run_updater(self.app.file("plain.exe"))
        self.assertTrue(vel.wait_until(self.marker().exists, 20))
        self.marker().unlink()
        # With the server's copy back, the signed installer replaces it.
        vel.hosts_route(path="/box/VelmoraSetup.exe", host="update", body_file=str(self.installer))
        self.run_updater()
        self.assertStarted()
        self.assertEqual(len(self.downloads()), 2)

if __name__ == "__main__":
    unittest.main()
