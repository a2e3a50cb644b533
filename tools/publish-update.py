#!/usr/bin/env python3
"""Writes the update manifest "update.xml" for an installer, as the update
server serves it at /box/update.xml. The stand-in hosts are fed with it the
same way as a real server (tools/standin/hosts.py --manifest/--installer).

  publish-update.py build/windows/VelmoraSetup-1.0.1.exe \\
      --url http://update.example/box/ --delay 5 -o update.xml

The version comes from the file name VelmoraSetup-<major.minor.revision>.exe
or from --version; the size is the file's. A --url ending in "/" gets the
file name appended. The updater cuts each field out of the raw text without
trimming or decoding, so values are written verbatim and anything it would
misread is refused instead of published.
"""
import argparse
import os
import re
import sys
import tempfile

NAME_RE = re.compile(r"^VelmoraSetup-(\d+\.\d+\.\d+)\.exe$", re.IGNORECASE)
VERSION_RE = re.compile(r"^\d+\.\d+\.\d+$")
# The updater stores the file as DownTmp\<exename>.
EXENAME_RE = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]*\.exe$", re.IGNORECASE)
URL_RE = re.compile(r"^https?://[\x21-\x7e]+$")
# The updater holds character positions in 16 bits.
MAX_DOCUMENT = 32767
# It turns the delay into milliseconds in 16 bits: 1 to 32 seconds.
MAX_DELAY = 32


class PublishError(Exception):
    pass


def version_of(installer, given=None):
    m = NAME_RE.match(os.path.basename(installer))
    named = m.group(1) if m else None
    if given is not None:
        if not VERSION_RE.match(given):
            raise PublishError(f"version must be major.minor.revision, got {given!r}")
        if named is not None and named != given:
            raise PublishError(f"--version {given} does not match the file name's {named}")
        return given
    if named is None:
        raise PublishError(f"cannot tell the version from {os.path.basename(installer)!r}: "
                           "name it VelmoraSetup-<major.minor.revision>.exe or give --version")
    return named


def manifest(installer, url, delay, version=None, exename=None):
    """The manifest text for the installer file."""
    version = version_of(installer, version)
    name = os.path.basename(installer)
    exename = exename or name
    if not EXENAME_RE.match(exename):
        raise PublishError(f"exename {exename!r} is not a plain .exe file name")
    if url.endswith("/"):
        url += name
    if "<" in url or ">" in url or not URL_RE.match(url):
        raise PublishError(f"download address {url!r} is not a plain http(s) address")
    if not 1 <= delay <= MAX_DELAY:
        raise PublishError(f"delay must be 1 to {MAX_DELAY} seconds, got {delay}")
    size = os.path.getsize(installer)
    if size == 0:
        raise PublishError(f"{installer} is empty")
    if size > 2**31 - 1:
        raise PublishError(f"{installer} is larger than the updater can describe")
    text = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n"
            f"<version>{version}</version>\n"
            f"<downurl>{url}</downurl>\n"
            f"<exename>{exename}</exename>\n"
            f"<filesize>{size}</filesize>\n"
            f"<opendownfile>{delay}</opendownfile>\n"
            "</update>\n")
    if len(text) > MAX_DOCUMENT:
        raise PublishError("manifest too long for the updater")
    return text


def write_atomically(path, text):
    # A server may be serving the old manifest: never let it see half a file.
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".update-", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("installer", help="the installer file")
    ap.add_argument("--url", required=True, help="its download address (ending in / for a folder)")
    ap.add_argument("--delay", required=True, type=int,
                    help=f"seconds the updater waits before starting it (1 to {MAX_DELAY})")
    ap.add_argument("--version", help="version offered (default: from the file name)")
    ap.add_argument("--exename", help="name the updater stores it under (default: its file name)")
    ap.add_argument("-o", "--output", default="update.xml", help="manifest to write (default update.xml)")
    args = ap.parse_args(argv)
    try:
        if not os.path.isfile(args.installer):
            raise PublishError(f"{args.installer}: no such file")
        text = manifest(args.installer, args.url, args.delay, args.version, args.exename)
    except PublishError as e:
        print(f"publish-update: {e}", file=sys.stderr)
        return 1
    write_atomically(args.output, text)
    print(f"{args.output}: {version_of(args.installer, args.version)} -> "
          f"{text.split('<downurl>')[1].split('</downurl>')[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
