"""tools/publish-update.py writes a manifest the updater reads as intended,
refuses what it would misread, signs offers with a P-256 key through
openssl, and the stand-in update server serves the published manifest and
installer. tools/pubkey-header.py turns the public key into what the
updater carries, and refuses anything else."""
import base64
import datetime
import hashlib
import importlib.util
import os
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

publish_update = publishing.publish_update
_module_info = importlib.util.spec_from_file_location("pubkey_header", vel.ROOT / "tools" / "pubkey-header.py")
pubkey_header = importlib.util.module_from_spec(_module_info)
_module_info.loader.exec_module(pubkey_header)


def openssl(*args, data=None):
    return subprocess.run(["openssl", *map(str, args)], input=data, capture_output=True, timeout=30)


def raw_to_der(raw):
    """r || s back to the DER form openssl verifies."""
    def integer(b):
        b = b.lstrip(b"\0") or b"\0"
        if b[0] & 0x80:
            b = b"\0" + b
        return bytes([2, len(b)]) + b
    body = integer(raw[:32]) + integer(raw[32:])
    return bytes([0x30, len(body)]) + body


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

    def test_published_file_is_readable_as_any_published_file_whatever_the_umask(self):
        inst = self.installer()
        out = self.dir / "update.xml"
        for extra, mode in (((), 0o644), (("--mode", "600"), 0o600)):
            with self.subTest(extra=extra):
                r = subprocess.run([sys.executable, str(publishing.PUBLISH), inst, "--url", "http://h/box/",
                                    "--delay", "3", "-o", out, *extra], capture_output=True, timeout=30,
                                   preexec_fn=lambda: os.umask(0o077))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(out.stat().st_mode & 0o777, mode)


class SigningTest(TempFolder, unittest.TestCase):
    def verifies(self, text, raw, public_key):
        sig = self.dir / "sig.der"
        sig.write_bytes(raw_to_der(raw))
        r = openssl("dgst", "-sha256", "-verify", public_key, "-signature", sig, data=text)
        return r.returncode == 0

    def test_signed_manifest_carries_the_hash_and_a_signature_over_the_offer(self):
        inst = self.installer(size=5000)
        text = publish_update.manifest(str(inst), "http://h:1/box/", 3, key=str(publishing.TEST_KEY))
        sha = field(text, "sha256")
        self.assertEqual(sha, hashlib.sha256(inst.read_bytes()).hexdigest())
        raw = base64.b64decode(field(text, "signature"), validate=True)
        self.assertEqual(len(raw), 64)
        self.assertNotIn("\n", field(text, "signature"))
        expires = field(text, "expires")
        signed = (f"1.2.3\nhttp://h:1/box/VelmoraSetup-1.2.3.exe\nVelmoraSetup-1.2.3.exe\n5000\n{sha}\n"
                  f"{expires}\n").encode()
        self.assertEqual(signed, publish_update.signed_text("1.2.3", field(text, "downurl"), field(text, "exename"),
                                                            field(text, "filesize"), sha, expires))
        self.assertTrue(self.verifies(signed, raw, publishing.TEST_PUBLIC_KEY))
        self.assertFalse(self.verifies(signed.replace(b"1.2.3\n", b"1.2.4\n", 1), raw, publishing.TEST_PUBLIC_KEY))
        other_pub = self.dir / "other.pub.pem"
        other_pub.write_bytes(openssl("pkey", "-in", publishing.OTHER_KEY, "-pubout").stdout)
        self.assertFalse(self.verifies(signed, raw, other_pub))
        # The rest of the manifest is as without a key.
        plain = publish_update.manifest(str(inst), "http://h:1/box/", 3)
        for tag in ("version", "downurl", "exename", "filesize", "opendownfile"):
            self.assertEqual(field(text, tag), field(plain, tag))
        self.assertIsNone(field(plain, "sha256"))
        self.assertIsNone(field(plain, "expires"))
        self.assertIsNone(field(plain, "signature"))

    def test_offers_end_two_weeks_after_publishing_unless_told(self):
        now = datetime.datetime(2026, 12, 8, 17, 16, 17, tzinfo=datetime.timezone.utc)
        self.assertEqual(publish_update.expiry(None, now), "2026-12-22T17:16:17Z")
        self.assertEqual(publish_update.expiry("30", now), "2027-01-07T17:16:17Z")
        self.assertEqual(publish_update.expiry("2027-01-01T00:00:00Z", now), "2027-01-01T00:00:00Z")
        for bad in ("2027-02-30T00:00:00Z", "2027-01-01 00:00:00", "tomorrow", "-3"):
            with self.subTest(bad=bad):
                with self.assertRaises(publish_update.PublishError):
                    publish_update.expiry(bad, now)
        self.assertIsNone(publish_update.expiry_warning("2026-12-22T17:16:17Z", now))
        self.assertIn("expired", publish_update.expiry_warning("2026-12-01T00:00:00Z", now))
        self.assertIn("ahead", publish_update.expiry_warning("2028-01-01T00:00:00Z", now))

    def test_der_signatures_become_32_plus_32_bytes(self):
        r31, s32 = bytes(range(1, 32)), bytes([0x80]) + bytes(31)
        der = bytes([0x30, 2 + 31 + 2 + 33, 2, 31]) + r31 + bytes([2, 33, 0]) + s32
        self.assertEqual(publish_update.der_to_raw(der), bytes(1) + r31 + s32)
        for bad in (b"", der[:-1], der + b"\0", b"\x31" + der[1:], der.replace(bytes([2, 31]), bytes([4, 31]), 1),
                    bytes([0x30, 2 + 33 + 2 + 1, 2, 33, 1]) + bytes(32) + bytes([2, 1, 1])):  # r of 2^256 and more
            with self.subTest(bad=bad.hex()):
                with self.assertRaises(publish_update.PublishError):
                    publish_update.der_to_raw(bad)

    def test_refuses_keys_it_cannot_sign_with_and_keeps_the_old_manifest(self):
        inst = self.installer()
        p384 = self.dir / "p384.pem"
        self.assertEqual(openssl("ecparam", "-name", "secp384r1", "-genkey", "-noout", "-out", p384).returncode, 0)
        out = self.dir / "update.xml"
        out.write_text("old", encoding="utf-8")
        run = lambda key: subprocess.run([sys.executable, str(publishing.PUBLISH), str(inst), "--url", "http://h/box/",
                                          "--delay", "3", "--key", str(key), "-o", str(out)],
                                         capture_output=True, timeout=60)
        for key in (p384, self.dir / "missing.pem", publishing.TEST_PUBLIC_KEY, inst):
            with self.subTest(key=key.name):
                r = run(key)
                self.assertNotEqual(r.returncode, 0)
                self.assertTrue(r.stderr.startswith(b"publish-update: "), r.stderr)
                self.assertEqual(out.read_text(encoding="utf-8"), "old")
        r = run(publishing.TEST_KEY)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"(signed, expires ", r.stdout)
        self.assertIsNotNone(field(out.read_text(encoding="utf-8"), "signature"))

    def test_signed_text_refuses_line_feeds(self):
        with self.assertRaises(publish_update.PublishError):
            publish_update.signed_text("1.0.0\nx", "u", "e", 1, "a", "2027-01-01T00:00:00Z")


class KeyHeaderTest(TempFolder, unittest.TestCase):
    def header(self, key_bytes):
        key = self.dir / "key"
        key.write_bytes(key_bytes)
        out = self.dir / "key.h"
        r = subprocess.run([sys.executable, str(vel.ROOT / "tools" / "pubkey-header.py"), str(key), str(out)],
                           capture_output=True, timeout=30)
        return r.returncode, (out.read_text() if out.exists() else ""), r.stderr.decode()

    def test_every_form_of_the_public_key_gives_the_same_point(self):
        pem = publishing.TEST_PUBLIC_KEY.read_bytes()
        der = openssl("pkey", "-pubin", "-in", publishing.TEST_PUBLIC_KEY, "-outform", "DER").stdout
        point = der[-64:]
        forms = {"pem": pem, "der": der, "raw": point, "uncompressed": b"\x04" + point,
                 "blob": b"ECS1" + (32).to_bytes(4, "little") + point}
        want = ", ".join(f"0x{b:02x}" for b in point)
        for name, data in forms.items():
            with self.subTest(name):
                rc, text, err = self.header(data)
                self.assertEqual(rc, 0, err)
                self.assertEqual(", ".join(re.findall(r"0x[0-9a-f]{2}", text)), want)
                self.assertIn("std::array<unsigned char, 64> kUpdatePublicKey", text)

    def test_no_key_means_the_unsigned_flow(self):
        out = self.dir / "none.h"
        r = subprocess.run([sys.executable, str(vel.ROOT / "tools" / "pubkey-header.py"), "", str(out)],
                           capture_output=True, timeout=30)
        self.assertEqual(r.returncode, 0)
        self.assertIn("std::array<unsigned char, 0> kUpdatePublicKey{}", out.read_text())

    def test_refuses_private_keys_other_curves_and_damaged_points(self):
        der = openssl("pkey", "-pubin", "-in", publishing.TEST_PUBLIC_KEY, "-outform", "DER").stdout
        damaged = bytearray(der[-64:])
        damaged[63] ^= 1
        p384 = openssl("ecparam", "-name", "secp384r1", "-genkey", "-noout").stdout
        p384_pub = openssl("pkey", "-pubout", data=p384).stdout
        cases = {
            "private key": (publishing.TEST_KEY.read_bytes(), "private key"),
            "P-384": (p384_pub, "P-256"),
            "damaged point": (bytes(damaged), "not a point"),
            "too short": (der[-63:], "unknown key format"),
            "certificate": (b"-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n", "not a PEM public key"),
        }
        for name, (data, message) in cases.items():
            with self.subTest(name):
                rc, text, err = self.header(data)
                self.assertEqual(rc, 1)
                self.assertIn(message, err)
                self.assertEqual(text, "")


class ReleaseTest(TempFolder, unittest.TestCase):
    def test_release_refuses_the_test_only_update_keys_before_building(self):
        cert = self.dir / "codesign.p12"
        cert.write_bytes(b"not looked at")
        for key in sorted((vel.ROOT / "tests" / "updater" / "keys").glob("*.pem")):
            if key.name.endswith(".pub.pem"):
                continue
            with self.subTest(key.name):
                env = dict(os.environ, VELBOX_RELEASE_KEY=str(key),
                           VELBOX_RELEASE_PUBKEY=str(key.with_name(key.name.replace(".pem", ".pub.pem"))),
                           VELBOX_CODESIGN_CERT=str(cert),
                           VELBOX_WEB_HOST="w.example", VELBOX_MUSIC_HOST="m.example",
                           VELBOX_UPDATE_HOST="u.example")
                r = subprocess.run([str(vel.ROOT / "tools" / "release.sh"), "9.9.9"], env=env,
                                   stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn("test-only key", r.stderr)
                self.assertFalse((vel.ROOT / "build" / "release-9.9.9").exists())
                self.assertFalse((vel.ROOT / "release" / "9.9.9").exists())


    def test_the_build_never_learns_of_the_private_key(self):
        key, pub = self.dir / "update-signing.pem", self.dir / "update-signing.pub.pem"
        self.assertEqual(openssl("ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", key).returncode, 0)
        self.assertEqual(openssl("ec", "-in", key, "-pubout", "-out", pub).returncode, 0)
        cert = self.dir / "codesign.p12"
        cert.write_bytes(b"not looked at")
        # A stand-in cmake that records what the build would be given, then
        # stops the release there.
        bin_dir = self.dir / "bin"
        bin_dir.mkdir()
        recorded = self.dir / "cmake.env"
        (bin_dir / "cmake").write_text(f'#!/bin/sh\nenv >"{recorded}"\nexit 3\n')
        (bin_dir / "cmake").chmod(0o755)
        trace = self.dir / "opened.trace"
        env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}", VELBOX_RELEASE_KEY=str(key),
                   VELBOX_RELEASE_PUBKEY=str(pub), VELBOX_CODESIGN_CERT=str(cert), VELBOX_WEB_HOST="w.example",
                   VELBOX_MUSIC_HOST="m.example", VELBOX_UPDATE_HOST="u.example")
        self.addCleanup(shutil.rmtree, vel.ROOT / "build" / "release-9.9.8", True)
        r = subprocess.run(["strace", "-f", "-qq", "-e", "trace=open,openat,openat2", "-o", str(trace),
                            str(vel.ROOT / "tools" / "release.sh"), "9.9.8"], env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=120)
        self.assertNotEqual(r.returncode, 0)
        build_env = recorded.read_text()
        for secret in (str(key), "VELBOX_RELEASE_KEY", "PRIVATE KEY"):
            self.assertNotIn(secret, build_env)
        self.assertIn(str(self.dir), trace.read_text())  # the trace sees the files it opened
        self.assertNotIn(str(key), trace.read_text(), "the private key was read before the signing step")
        self.assertFalse((vel.ROOT / "release" / "9.9.8").exists())

        # The script's own check: a build environment that names the key in
        # any variable is refused before anything is built.
        recorded.unlink()
        r = subprocess.run([str(vel.ROOT / "tools" / "release.sh"), "9.9.8"], env=dict(env, SOMETHING=str(key)),
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertIn("names the private update key", r.stderr)
        self.assertFalse(recorded.exists())


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
