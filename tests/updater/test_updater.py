"""velUpdate.exe from start to end in an install folder of its own, against
the stand-in update server: no update ends at once without a window; a newer
version is downloaded into DownTmp, started after the delay, and the updater
ends; hostile manifests fetch, store and start nothing."""
import time
import unittest

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
    def setUp(self):
        vel.hosts_reset()
        self.app = vel.InstallDir("updater", programs=("velUpdate.exe",))
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
        time.sleep(0.3)  # let the probe see the end
        return probe, t0, ended

    def test_no_update_ends_at_once_without_a_window(self):
        probe, t0, ended = self.run_update(manifest("1.2.3"))
        self.assertIsNone(probe.visible_span(), probe.states())
        self.assertLess(ended - t0, 15)
        self.assertEqual(len(self.requests("/box/update.xml")), 1)
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
        self.assertEqual(sorted(p.name for p in self.app.file("DownTmp").iterdir()),
                         ["VelmoraSetup.exe", "VelmoraSetup.exe.ran"])
        self.assertTrue(vel.wait_until(self.marker().exists, 20))
        launched = self.marker().stat().st_mtime
        # The window stays for the delay, then the installer starts.
        self.assertGreater(launched - span[0], 4.0)
        self.assertLess(launched - span[0], 8.0)
        self.assertIsNotNone(span[1], "the window did not go")
        self.assertGreater(span[1] - span[0], 4.5)
        self.assertLess(span[1] - span[0], 7.0)
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
        self.assertLess(ended - span[0], 5.0)
        time.sleep(1.0)
        self.assertFalse(self.marker().exists())
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
                self.assertLess(span[1] - span[0], 2.8)
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
        # The first copy asks every 5 s and gives up after three waits.
        first.wait(40)
        times = [e["time"] for e in self.requests("/box/update.xml")]
        self.assertEqual(len(times), 4, times)
        for k, t in enumerate(times):
            self.assertLess(abs(t - (t0 + 5 * k)), 1.0, times)
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
                                 ["cfg.xml", "probe.log", "velUpdate.exe"])
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
                         ["DownTmp", "cfg.xml", "probe.log", "velUpdate.exe"])


if __name__ == "__main__":
    unittest.main()
