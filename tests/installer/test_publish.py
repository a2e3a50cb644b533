"""tools/publish-update.py writes a manifest the updater reads as intended,
refuses what it would misread, and the stand-in update server serves the
published manifest and installer."""
import importlib.util
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
from pathlib import Path

from tests.installer import publishing
from tests.support import vel

_module_info = importlib.util.spec_from_file_location("publish_update", publishing.PUBLISH)
publish_update = importlib.util.module_from_spec(_module_info)
_module_info.loader.exec_module(publish_update)


def field(text, tag):
    """A field as the updater cuts it out: from the first opening tag to the
    first closing tag, nothing trimmed; None when it would fail."""
    start, end = text.find(f"<{tag}>"), text.find(f"</{tag}>")
    if start < 0 or end < 0 or end < start + len(tag) + 2:
        return None
    return text[start + len(tag) + 2:end]


def fetch(url):
    with urllib.request.urlopen(url, timeout=10) as r:
        return r.read()


class TempFolder:
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="publish-"))

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def installer(self, name="VelmoraSetup-1.2.3.exe", size=2500):
        p = self.dir / name
        p.write_bytes(bytes(i % 251 for i in range(size)))
        return p


class ManifestTest(TempFolder, unittest.TestCase):
    def test_fields_read_back_as_the_updater_reads_them(self):
        inst = self.installer()
        text = publish_update.manifest(str(inst), "http://up.example:8080/box/", 5)
        self.assertEqual(field(text, "version"), "1.2.3")
        self.assertEqual(field(text, "downurl"), "http://up.example:8080/box/VelmoraSetup-1.2.3.exe")
        self.assertEqual(field(text, "exename"), "VelmoraSetup-1.2.3.exe")
        self.assertEqual(field(text, "filesize"), "2500")
        self.assertEqual(field(text, "opendownfile"), "5")
        # A full address is taken as it is; --version agrees with the name.
        text = publish_update.manifest(str(inst), "http://h/get?f=1&v=2", 32, version="1.2.3",
                                       exename="Setup.exe")
        self.assertEqual(field(text, "downurl"), "http://h/get?f=1&v=2")
        self.assertEqual(field(text, "exename"), "Setup.exe")
        self.assertEqual(field(text, "opendownfile"), "32")
        # A name without a version takes it from the argument.
        text = publish_update.manifest(str(self.installer("setup.exe")), "http://h/box/", 1, version="2.0.10")
        self.assertEqual(field(text, "version"), "2.0.10")
        self.assertEqual(field(text, "exename"), "setup.exe")

    def test_refuses_what_the_updater_would_misread(self):
        inst = str(self.installer())
        bad = [
            dict(installer=str(self.installer("setup.exe"))),            # no version anywhere
            dict(version="1.2.4"),                                       # disagrees with the name
            dict(installer=str(self.installer("s.exe")), version="1.2"),  # two parts: never newer
            dict(delay=0), dict(delay=33),                               # beyond the 16-bit interval
            dict(exename="..\\evil.exe"), dict(exename="sub/VelmoraSetup.exe"),
            dict(exename="VelmoraSetup.msi"),
            dict(url="ftp://h/box/"), dict(url="http://h/a b.exe"), dict(url=" http://h/box/"),
            dict(url="http://h/<x>.exe"),
            dict(installer=str(self.installer("VelmoraSetup-9.9.9.exe", size=0))),  # empty file
        ]
        for case in bad:
            args = dict(installer=inst, url="http://h/box/", delay=5)
            args.update(case)
            with self.subTest(case=case):
                with self.assertRaises(publish_update.PublishError):
                    publish_update.manifest(args.pop("installer"), args.pop("url"), args.pop("delay"), **args)

    def test_command_line_writes_the_file_and_a_refusal_keeps_the_old_one(self):
        inst = self.installer()
        out = self.dir / "update.xml"
        run = lambda *a: subprocess.run([sys.executable, str(publishing.PUBLISH), *map(str, a)],
                                        capture_output=True, timeout=30)
        r = run(inst, "--url", "http://h/box/", "--delay", "3", "-o", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        good = out.read_bytes()
        self.assertEqual(good.decode("utf-8"), publish_update.manifest(str(inst), "http://h/box/", 3))
        r = run(inst, "--url", "http://h/box/", "--delay", "40", "-o", out)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"delay", r.stderr)
        self.assertEqual(out.read_bytes(), good)
        r = run(self.dir / "missing.exe", "--url", "http://h/box/", "--delay", "3", "-o", out)
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(out.read_bytes(), good)
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()),
                         ["VelmoraSetup-1.2.3.exe", "update.xml"])


class ServingTest(TempFolder, unittest.TestCase):
    def setUp(self):
        super().setUp()
        vel.hosts_reset()

    def tearDown(self):
        vel.hosts_reset()
        super().tearDown()

    def test_published_manifest_and_installer_are_served(self):
        inst = self.installer(size=70000)
        manifest, url = publishing.publish(inst, self.dir, delay=2)
        # The updater asks with a time suffix.
        served = fetch(f"http://{vel.HOSTS['update']}/box/update.xml?40213.55")
        self.assertEqual(served, manifest.read_bytes())
        self.assertEqual(field(served.decode(), "downurl"), url)
        self.assertEqual(fetch(url), inst.read_bytes())
        # Publishing anew is served at once.
        newer = self.installer("VelmoraSetup-1.2.4.exe", size=100)
        publishing.publish(newer, self.dir)
        served = fetch(f"http://{vel.HOSTS['update']}/box/update.xml?1")
        self.assertEqual(field(served.decode(), "version"), "1.2.4")

    def test_hosts_serve_files_given_on_their_command_line(self):
        inst = self.installer()
        manifest = self.dir / "update.xml"
        manifest.write_text(publish_update.manifest(str(inst), "http://h/box/", 1), encoding="utf-8")
        proc = subprocess.Popen(
            [sys.executable, str(vel.ROOT / "tools" / "standin" / "hosts.py"), "--web", "127.0.0.1:0",
             "--music", "127.0.0.1:0", "--update", "127.0.0.1:0", "--manifest", str(manifest),
             "--installer", str(inst)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        try:
            line = proc.stdout.readline()
            m = re.search(r"update http://([\d.]+:\d+)", line)
            self.assertTrue(m, line)
            base = "http://" + m.group(1)
            self.assertNotEqual(m.group(1), "127.0.0.1:0")
            self.assertEqual(fetch(base + "/box/update.xml?7.5"), manifest.read_bytes())
            self.assertEqual(fetch(base + "/box/" + inst.name), inst.read_bytes())
            # A published file is read at each request and survives a reset.
            manifest.write_text("<version>9.0.0</version>", encoding="utf-8")
            urllib.request.urlopen(urllib.request.Request(base + "/_ctl/reset", data=b"", method="POST"),
                                   timeout=10).read()
            self.assertEqual(fetch(base + "/box/update.xml"), b"<version>9.0.0</version>")
            # Other roles do not serve it.
            m2 = re.search(r"music http://([\d.]+:\d+)", line)
            with self.assertRaises(urllib.error.HTTPError):
                fetch("http://" + m2.group(1) + "/box/update.xml")
        finally:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(timeout=10)
            proc.stdout.close()


if __name__ == "__main__":
    unittest.main()
