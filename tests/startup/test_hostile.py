"""velBox.exe started on a hostile "cfg.xml": huge, binary, UTF-16, with a
byte-order mark, with a document type and entities, or held open by another
program. The client always comes up with its window; a file it cannot parse
or save stays byte for byte as it was, a file it can read keeps its options
and gets the running version; nothing but "cfg.xml" is ever written into the
folder, and no temporary file is left."""
import re
import subprocess
import time
import unittest

from tests.support import vel

LOCKER = vel.BUILD / "velFileLock.exe"
TITLE = "Velmora音乐网 - 给你最好的音乐"
ONE_LINE = ("<config><autorun>0</autorun><shortlnk>0</shortlnk>"
            "<closetotray>1</closetotray><ver>0.9.0</ver></config>")


def window_shown():
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE], env=vel.wine_env(),
                       capture_output=True, timeout=10)
    return r.returncode == 0 and r.stdout.strip() != b""


def decode(data: bytes) -> str:
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    if data.startswith(b"\xfe\xff"):
        return data[2:].decode("utf-16-be")
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8")
    return data.decode("utf-8")


def values(text: str) -> dict:
    """The first value of each key, as the client looks them up."""
    out = {}
    for key in ("autorun", "shortlnk", "closetotray", "ver"):
        m = re.search(f"<{key}>([^<]*)</{key}>", text)
        out[key] = m.group(1) if m else None
    return out


class HostileConfigTest(unittest.TestCase):
    def setUp(self):
        vel.hosts_reset()
        self.entries = vel.SystemEntries()
        self.app = vel.InstallDir("hostile")
        self.cfg = self.app.file("cfg.xml")
        self.progs = []

    def tearDown(self):
        for p in self.progs:
            p.kill()
        self.entries.restore()
        self.app.remove()

    def run_client(self, extra_files=()):
        """Starts the client, waits for its window (Main has done all its
        file work by then), checks the folder and ends the client."""
        before = self.cfg.read_bytes() if self.cfg.is_file() else None
        p = vel.Program(self.app.file("velBox.exe"))
        self.progs.append(p)
        t0 = time.time()
        shown = vel.wait_until(window_shown, 60, step=0.2)
        took = time.time() - t0
        self.assertTrue(shown, "no window within 60 s")
        self.assertTrue(p.running(), "the client ended")
        # Give a late save a moment to show up before the folder is read.
        time.sleep(1.0)
        self.assertEqual(sorted(f.name for f in self.app.path.iterdir()),
                         sorted(["velBox.exe", "cfg.xml", *extra_files]))
        p.kill()
        self.progs.remove(p)
        vel.wait_until(lambda: not window_shown(), 20)
        return before, took

    def assert_unchanged(self, data, extra_files=()):
        self.cfg.write_bytes(data)
        self.run_client(extra_files)
        self.assertEqual(self.cfg.read_bytes(), data)

    def assert_options_kept(self, data, options=None):
        self.cfg.write_bytes(data)
        self.run_client()
        after = values(decode(self.cfg.read_bytes()))
        want = dict(options or {"autorun": "0", "shortlnk": "0", "closetotray": "1"}, ver=vel.VERSION)
        self.assertEqual(after, want)
        return self.cfg.read_bytes()

    def test_unparsable_files_are_left_byte_for_byte(self):
        cases = {
            "binary": bytes(range(256)) * 64,
            "nul bytes before the document": b"\0" * 512 + ONE_LINE.encode(),
            "truncated": ONE_LINE.encode()[:-5],
            "bytes that are no UTF-8 in a name": ONE_LINE.encode().replace(b"closetotray>1", b"close\xff\xfe\xc0totray>1"),
            "empty": b"",
            "10 MiB of binary": bytes((i * 7919) & 0xFF for i in range(1 << 16)) * 160,
        }
        for name, data in cases.items():
            with self.subTest(name):
                self.assert_unchanged(data)

    def test_document_types_are_refused_so_entities_never_expand_or_fetch(self):
        bomb = '<?xml version="1.0"?><!DOCTYPE config [<!ENTITY a0 "aaaaaaaaaa">'
        for i in range(1, 12):
            bomb += f'<!ENTITY a{i} "' + f"&a{i - 1};" * 10 + '">'
        bomb += "]><config><autorun>&a11;</autorun><ver>0.9.0</ver></config>"
        secret = self.app.file("secret.txt")
        secret.write_bytes(b"1")
        external = ('<!DOCTYPE config [<!ENTITY s SYSTEM "secret.txt">'
                    f'<!ENTITY r SYSTEM "http://{vel.HOSTS["update"]}/entity">]>'
                    "<config><autorun>&s;</autorun><shortlnk>&r;</shortlnk><ver>0.9.0</ver></config>")
        for name, text in (("entity bomb", bomb), ("external entities", external)):
            with self.subTest(name):
                self.assert_unchanged(text.encode(), extra_files=["secret.txt"])
        self.assertEqual(secret.read_bytes(), b"1")
        self.assertEqual([e for e in vel.hosts_log() if "entity" in e["path"]], [])

    def test_readable_encodings_keep_their_options(self):
        cases = {
            "UTF-8 with mark": b"\xef\xbb\xbf" + ONE_LINE.encode(),
            "UTF-16 with mark": b"\xff\xfe" + ONE_LINE.encode("utf-16-le"),
            "big-endian UTF-16 with mark": b"\xfe\xff" + ONE_LINE.encode("utf-16-be"),
            "declared UTF-16, hand-indented": ('\ufeff<?xml version="1.0" encoding="UTF-16"?>\r\n<config>\r\n'
                                               "  <autorun>0</autorun>\r\n  <shortlnk>0</shortlnk>\r\n"
                                               "  <closetotray>1</closetotray>\r\n  <ver>0.9.0</ver>\r\n"
                                               "</config>\r\n").encode("utf-16-le"),
        }
        for name, data in cases.items():
            with self.subTest(name):
                self.assert_options_kept(data)

    def test_huge_file_keeps_its_options_and_its_content(self):
        pad = "x" * (8 << 20)
        data = ONE_LINE.replace("<ver>", f"<pad>{pad}</pad><ver>").encode()
        after = self.assert_options_kept(data)
        self.assertIn(f"<pad>{pad}</pad>".encode(), after)

    def test_file_held_by_another_program_is_left_byte_for_byte(self):
        data = ONE_LINE.encode()
        for mode in ("none", "read"):
            with self.subTest(share=mode):
                ready = self.app.path.parent / (self.app.path.name + "-lock.txt")
                ready.unlink(missing_ok=True)
                locker = vel.Program(LOCKER, self.app.win("cfg.xml"), mode, "40", vel.windows_path(ready),
                                     cwd=self.app.path.parent)
                self.progs.append(locker)
                try:
                    self.cfg.write_bytes(data)
                    self.assertTrue(vel.wait_until(lambda: ready.exists() and ready.read_bytes(), 30))
                    self.assertEqual(ready.read_bytes(), b"locked")
                    self.run_client()
                    self.assertEqual(self.cfg.read_bytes(), data)
                finally:
                    locker.kill()
                    ready.unlink(missing_ok=True)
        # Once the file is free again the next start records its version.
        self.assert_options_kept(data)

    def test_read_only_hidden_or_system_file_is_left_byte_for_byte(self):
        data = ONE_LINE.encode()
        for flag in ("r", "h", "s"):
            with self.subTest(attribute=flag):
                self.cfg.write_bytes(data)
                rc, _ = vel.run_wine("cmd", "/c", "attrib", "+" + flag, self.app.win("cfg.xml"))
                self.assertEqual(rc, 0)
                try:
                    # A hidden or system file counts as absent, but is not
                    # replaced by a new one with the defaults.
                    self.run_client()
                    _, listing = vel.run_wine("cmd", "/c", "attrib", self.app.win("cfg.xml"))
                    self.assertIn(flag.upper(), listing.split("C:")[0])
                finally:
                    vel.run_wine("cmd", "/c", "attrib", "-" + flag, self.app.win("cfg.xml"))
                self.assertEqual(self.cfg.read_bytes(), data)

    def test_folder_of_that_name_is_left_alone(self):
        self.cfg.mkdir()
        (self.cfg / "keep.txt").write_bytes(b"keep")
        self.run_client()
        self.assertTrue(self.cfg.is_dir())
        self.assertEqual([p.name for p in self.cfg.iterdir()], ["keep.txt"])


if __name__ == "__main__":
    unittest.main()
