"""Publishing an installer on the stand-in update server the way a real
server is fed: tools/publish-update.py writes the manifest, and the update
server serves it and the installer as files."""
import subprocess
import sys
from pathlib import Path

from tests.support import vel

PUBLISH = vel.ROOT / "tools" / "publish-update.py"


def publish(installer, folder, delay=1, version=None):
    """Serves `installer` as the offered update. Returns the manifest path
    and the download address it names."""
    installer = Path(installer)
    manifest = Path(folder) / "update.xml"
    cmd = [sys.executable, str(PUBLISH), str(installer), "--url",
           f"http://{vel.HOSTS['update']}/box/", "--delay", str(delay), "-o", str(manifest)]
    if version:
        cmd += ["--version", version]
    subprocess.run(cmd, check=True, capture_output=True, timeout=30)
    vel.hosts_route(path="/box/update.xml", host="update", body_file=str(manifest),
                    content_type="text/xml")
    vel.hosts_route(path="/box/" + installer.name, host="update", body_file=str(installer))
    return manifest, f"http://{vel.HOSTS['update']}/box/{installer.name}"
