"""velBox.exe started in a folder of its own writes "cfg.xml" as a first
start does, and records only its version in a file from an older client."""
import shutil
import unittest

from tests.support import vel

FRESH = ("<config><autorun>1</autorun><shortlnk>1</shortlnk>"
         "<closetotray>1</closetotray><ver>{}</ver></config>").format(vel.VERSION)


def core(data: bytes) -> bytes:
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    return data.rstrip(b"\r\n")


class StartupTest(unittest.TestCase):
    def setUp(self):
        # A start also applies the options: the Run value and the shortcut.
        self.entries = vel.SystemEntries()
        self.app = vel.InstallDir("startup")
        self.cfg = self.app.file("cfg.xml")
        self.prog = None

    def tearDown(self):
        if self.prog:
            self.prog.stop()
        self.entries.restore()
        self.app.remove()

    def start(self, *args):
        self.prog = vel.Program(self.app.file("velBox.exe"), *args)

    def test_first_start_writes_the_default_file(self):
        self.start()
        got = vel.wait_until(lambda: self.cfg.exists() and core(self.cfg.read_bytes()) == FRESH.encode(), 30)
        self.assertTrue(got, self.cfg.read_bytes() if self.cfg.exists() else b"no cfg.xml")
        self.assertTrue(self.prog.running(), "the client ended instead of showing its window")

    def test_older_file_keeps_its_options_and_gets_the_new_version(self):
        old = b"<config><autorun>1</autorun><shortlnk>1</shortlnk><closetotray>0</closetotray><ver>0.9.0</ver></config>"
        self.cfg.write_bytes(old)
        self.start()
        want = old.replace(b"0.9.0", vel.VERSION.encode())
        got = vel.wait_until(lambda: core(self.cfg.read_bytes()) == want, 30)
        self.assertTrue(got, self.cfg.read_bytes())

    def test_unparsable_file_is_left_alone_and_the_window_still_shows(self):
        self.cfg.write_bytes(b"<config><ver>0.9.0</ver>")
        self.start()
        # The window is up once the process has been running for a while.
        vel.wait_until(lambda: False, 3)
        self.assertTrue(self.prog.running())
        self.assertEqual(self.cfg.read_bytes(), b"<config><ver>0.9.0</ver>")

    def test_client_whose_installation_was_removed_under_it_writes_nothing(self):
        # The uninstaller's mark in a folder that is not the installation
        # (none is recorded): the product was uninstalled under this client.
        shutil.copyfile(vel.QUICK / "velBox.exe", self.app.file("velBox.exe"))
        self.app.file("uninstalled.mark").write_bytes(b"")
        exe = vel.windows_path(self.app.file("velBox.exe"))
        self.start("/regstart")
        rc, _ = vel.run_wine(str(vel.TRAY_DRIVER), "find", "30000", timeout=60)
        self.assertEqual(rc, 0, "the client did not come up")
        # Its file was moved aside by the uninstall, as a running program's is.
        self.app.file("velBox.exe").rename(self.app.file("velBox.exe.0-5000.old"))
        rc, _ = vel.run_wine(str(vel.TRAY_DRIVER), "end", exe, "20000", timeout=60)
        self.assertEqual(rc, 0, "the client did not end")
        self.assertEqual(self.prog.wait(10), 0)
        # Nothing came back: no name, no file, no log-on value, no shortcut.
        self.assertEqual(sorted(p.name for p in self.app.path.iterdir()), ["uninstalled.mark", "velBox.exe.0-5000.old"])
        self.assertIsNone(vel.run_value("HKCU"))
        self.assertIsNone(vel.run_value("HKLM"))
        self.assertEqual(vel.titled_desktop_entries(), [])


if __name__ == "__main__":
    unittest.main()
