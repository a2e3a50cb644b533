"""velBox.exe puts its log-on start entry and its desktop shortcut in place
at a first start, and takes both away at the next start once the options in
"cfg.xml" are off."""
import unittest

from tests.support import vel

LINK = vel.APP_TITLE + ".lnk"


class EntriesTest(unittest.TestCase):
    def setUp(self):
        d = vel.desktop()
        # Wine links the desktop to the Unix home unless the prefix script
        # has made it a folder of the prefix; never write shortcuts there.
        self.assertTrue(d.is_dir() and not d.is_symlink(), f"{d} is not a folder inside the prefix")
        self.entries = vel.SystemEntries()
        self.app = vel.InstallDir("integration")
        self.cfg = self.app.file("cfg.xml")
        self.command = '"' + self.app.win("velBox.exe") + '" /regstart'
        self.prog = None

    def tearDown(self):
        if self.prog:
            self.prog.stop()
        self.entries.restore()
        self.app.remove()

    def start(self):
        self.prog = vel.Program(self.app.file("velBox.exe"))

    def link_there(self):
        return (vel.desktop() / LINK).is_file()

    def first_start(self):
        self.start()
        got = vel.wait_until(lambda: vel.run_value("HKCU") == ("REG_SZ", self.command) and self.link_there(), 60,
                             step=0.5)
        self.assertTrue(got, (vel.run_value("HKCU"), vel.titled_desktop_entries()))

    def test_first_start_adds_the_run_value_and_the_shortcut(self):
        self.first_start()
        # For this user only, though Wine would let it write machine-wide.
        self.assertIsNone(vel.run_value("HKLM"))
        # The shortcut names the client's folder (as UTF-16 in its string data).
        folder = self.app.win().encode("utf-16-le")
        self.assertIn(folder, (vel.desktop() / LINK).read_bytes())
        self.assertEqual(vel.titled_desktop_entries(), [LINK])
        self.assertTrue(self.prog.running(), "the client ended instead of showing its window")

    def test_options_off_remove_both_at_the_next_start(self):
        self.first_start()
        self.prog.stop()
        copy = vel.desktop() / (vel.APP_TITLE + " - Copy.lnk")
        copy.write_bytes((vel.desktop() / LINK).read_bytes())
        off = ("<config><autorun>0</autorun><shortlnk>0</shortlnk><closetotray>0</closetotray>"
               "<ver>{}</ver></config>").format(vel.VERSION)
        self.cfg.write_bytes(off.encode())

        self.start()
        gone = vel.wait_until(lambda: not self.link_there() and vel.run_value("HKCU") is None, 60, step=0.5)
        self.assertTrue(gone, (vel.run_value("HKCU"), vel.titled_desktop_entries()))
        self.assertIsNone(vel.run_value("HKLM"))
        self.assertEqual(vel.titled_desktop_entries(), [copy.name])
        self.assertTrue(self.prog.running())


if __name__ == "__main__":
    unittest.main()
