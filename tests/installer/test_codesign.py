"""Authenticode signatures of a signed build: the next revision, which the
build makes signed with the test certificate of its build tree. Its
programs, its installers and the uninstaller that its installer writes
verify against the test CA; a signed file with one byte changed does not;
the signed installer installs and uninstalls under Wine (the update tests
install and update with the same signed installers)."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from tests.installer import test_installer as inst
from tests.support import vel

CA = Path(os.environ.get("VELBOX_CODESIGN_TEST_CA", vel.BUILD / "codesign-test" / "ca.pem"))
SIGNER = "/CN=Velmora Test Publisher"


def verify(path):
    """(passed, osslsigncode's report) of a file's signature against the test CA."""
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", str(CA), "-in", str(path)],
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    return r.returncode == 0, r.stdout + r.stderr


class CodeSignTest(unittest.TestCase):
    def setUp(self):
        self.signed = [inst.NEXT_BUILD / "velBox.exe", inst.NEXT_BUILD / "velUpdate.exe",
                       inst.NEXT_INSTALLER, inst.NEXT_INSTALLER_SILENT]
        for f in [CA, *self.signed]:
            self.assertTrue(f.exists(), f"{f} is not built")
        self.work = Path(tempfile.mkdtemp(prefix="codesign-", dir=vel.BUILD))

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def test_signed_files_verify_and_a_changed_byte_does_not(self):
        for f in self.signed:
            ok, report = verify(f)
            self.assertTrue(ok, f"{f.name}: {report[-1500:]}")
            self.assertIn("Message digest algorithm  : SHA256", report, f.name)
            self.assertIn(f"Subject: {SIGNER}", report, f.name)
        # The tests' own build is not signed: nothing to verify there.
        self.assertFalse(verify(vel.BUILD / "velBox.exe")[0])

        for f in (inst.NEXT_BUILD / "velBox.exe", inst.NEXT_INSTALLER):
            changed = self.work / f.name
            data = bytearray(f.read_bytes())
            data[len(data) // 3] ^= 0x01
            changed.write_bytes(data)
            ok, report = verify(changed)
            self.assertFalse(ok, f"{f.name} with one byte changed still verifies")
            self.assertIn("MISMATCH", report.upper(), f.name)

    def test_signed_installer_installs_a_signed_uninstaller(self):
        inst.scrub()
        try:
            self.assertEqual(inst.install(inst.NEXT_INSTALLER, "/S"), 0)
            self.assertTrue(vel.wait_until(lambda: (inst.PF / "uninst.exe").exists(), 30))
            for name in ("uninst.exe", "velBox.exe", "velUpdate.exe"):
                ok, report = verify(inst.PF / name)
                self.assertTrue(ok, f"installed {name}: {report[-1500:]}")
            self.assertEqual(inst.reg_values(inst.UNINST_KEY).get("DisplayVersion"), inst.NEXT_VERSION)
            self.assertTrue(inst.uninstall(), "the signed uninstaller did not remove the product")
            self.assertFalse(inst.PF.exists())
        finally:
            inst.scrub()


if __name__ == "__main__":
    unittest.main()
