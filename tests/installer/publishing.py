"""Publishing an installer on the stand-in update server the way a real
server is fed: tools/publish-update.py writes the manifest, and the update
server serves it and the installer as files. With a key the offer is
signed as a publisher signs it (openssl), for updaters built with the
matching public key (velUpdate.exe carries the build's, velUpdate_signed.exe
TEST_PUBLIC_KEY)."""
import importlib.util
import subprocess
import sys
from pathlib import Path

from tests.support import vel

PUBLISH = vel.ROOT / "tools" / "publish-update.py"
KEYS = vel.ROOT / "tests" / "updater" / "keys"
# For the tests only: the private halves are in the repository.
TEST_KEY = KEYS / "test-only-p256.pem"
TEST_PUBLIC_KEY = KEYS / "test-only-p256.pub.pem"
OTHER_KEY = KEYS / "test-only-other-p256.pem"
SIGNED_UPDATER = vel.BUILD / "velUpdate_signed.exe"
# The private half of the build tree's throwaway key, whose public half this
# build's velUpdate.exe carries (the windows preset makes it).
BUILD_KEY = vel.UPDATE_PRIVATE_KEY
# The updater without a key, as a build with VELBOX_UNSIGNED_UPDATES=ON has it.
UNSIGNED_UPDATER = vel.BUILD / "velUpdate_unsigned.exe"

_module_info = importlib.util.spec_from_file_location("publish_update", PUBLISH)
publish_update = importlib.util.module_from_spec(_module_info)
_module_info.loader.exec_module(publish_update)


def publish(installer, folder, delay=1, version=None, key=None, exename=None, url=None, expires=None):
    """Serves `installer` as the offered update, signed when a private key
    file is given (ending at `expires`, publish-update.py's --expires).
    Returns the manifest path and the download address it names."""
    installer = Path(installer)
    manifest = Path(folder) / "update.xml"
    url = url or f"http://{vel.HOSTS['update']}/box/"
    cmd = [sys.executable, str(PUBLISH), str(installer), "--url", url, "--delay", str(delay), "-o", str(manifest)]
    if version:
        cmd += ["--version", version]
    if exename:
        cmd += ["--exename", exename]
    if key:
        cmd += ["--key", str(key)]
    if expires:
        cmd += ["--expires", str(expires)]
    subprocess.run(cmd, check=True, capture_output=True, timeout=30)
    address = url + installer.name if url.endswith("/") else url
    vel.hosts_route(path="/box/update.xml", host="update", body_file=str(manifest),
                    content_type="text/xml")
    vel.hosts_route(path="/" + address.split("/", 3)[3].split("?")[0], host="update", body_file=str(installer))
    return manifest, address
