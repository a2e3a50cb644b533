#!/usr/bin/env python3
"""Writes the update manifest "update.xml" for an installer, as the update
server serves it at /box/update.xml. The stand-in hosts are fed with it the
same way as a real server (tools/standin/hosts.py --manifest/--installer).

  publish-update.py build/windows/VelmoraSetup-1.0.1.exe \\
      --url http://update.example/box/ --delay 5 --key signing-key.pem -o update.xml

The version comes from the file name VelmoraSetup-<major.minor.revision>.exe
or from --version; the size is the file's. A --url ending in "/" gets the
file name appended. The updater cuts each field out of the raw text without
trimming or decoding, so values are written verbatim and anything it would
misread is refused instead of published.

With --key (the publisher's P-256 private key in PEM, used through the
openssl command) the manifest also carries "<sha256>", the installer's
SHA-256 in hex, "<expires>", the end of the offer (UTC,
YYYY-MM-DDTHH:MM:SSZ; --expires, 14 days from now unless given), and
"<signature>", base64 of the ECDSA signature (r || s, 64 bytes) over the
values of version, downurl, exename, filesize, sha256 and expires, each
followed by a line feed. An updater built with the matching public key
(VELBOX_UPDATE_PUBKEY) takes only such offers, and only until they expire:
publish again before then. The signature is checked against the key's
public half before anything is written.
"""
import argparse
import base64
import datetime
import hashlib
import os
import re
import subprocess
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
# Offers end: by default two weeks after publishing; updaters refuse one
# that ends more than this far ahead.
DEFAULT_EXPIRY_DAYS = 14
LONGEST_OFFER = datetime.timedelta(days=366)
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
TIME_RE = re.compile(r"^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z$")


# SubjectPublicKeyInfo of an uncompressed P-256 point, up to the point.
SPKI_P256_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")


class PublishError(Exception):
    pass


def expiry(given=None, now=None):
    """The "<expires>" value: `given` as a UTC time YYYY-MM-DDTHH:MM:SSZ or a
    whole number of days from now; by default DEFAULT_EXPIRY_DAYS."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    if given is None or re.fullmatch(r"\d+", str(given)):
        days = DEFAULT_EXPIRY_DAYS if given is None else int(given)
        return (now + datetime.timedelta(days=days)).strftime(TIME_FORMAT)
    if not TIME_RE.match(given):
        raise PublishError(f"expiry must be YYYY-MM-DDTHH:MM:SSZ or days, got {given!r}")
    try:
        datetime.datetime.strptime(given, TIME_FORMAT)
    except ValueError:
        raise PublishError(f"expiry {given!r} is not a real time") from None
    return given


def expiry_warning(expires, now=None):
    """Why updaters would refuse an offer ending at `expires`, or None."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    end = datetime.datetime.strptime(expires, TIME_FORMAT).replace(tzinfo=datetime.timezone.utc)
    if end < now:
        return f"the offer expired at {expires}: updaters refuse it"
    if end - now > LONGEST_OFFER:
        return f"the offer ends more than {LONGEST_OFFER.days} days ahead: updaters refuse it"
    return None


def signed_text(version, url, exename, size, sha256, expires):
    """What the signature covers: the field values, each followed by a line
    feed, in UTF-8 (the same text the updater forms)."""
    values = [version, url, exename, str(size), sha256, expires]
    if any("\n" in v for v in values):
        raise PublishError("a signed value holds a line feed")
    return "".join(v + "\n" for v in values).encode("utf-8")


def _der_length(data, i):
    n = data[i]
    if n < 0x80:
        return n, i + 1
    k = n & 0x7F
    if k == 0 or k > 2:
        raise PublishError("unexpected signature encoding")
    return int.from_bytes(data[i + 1:i + 1 + k], "big"), i + 1 + k


def der_to_raw(der):
    """ECDSA-Sig-Value (SEQUENCE of INTEGER r, s) as openssl writes it ->
    r || s, 32 bytes each, as the platform's verification takes it."""
    if not der or der[0] != 0x30:
        raise PublishError("unexpected signature encoding")
    length, i = _der_length(der, 1)
    if i + length != len(der):
        raise PublishError("unexpected signature encoding")
    out = b""
    for _ in range(2):
        if i >= len(der) or der[i] != 0x02:
            raise PublishError("unexpected signature encoding")
        n, i = _der_length(der, i + 1)
        value = int.from_bytes(der[i:i + n], "big")
        i += n
        if value >= 1 << 256:
            raise PublishError("signature is not of a P-256 key")
        out += value.to_bytes(32, "big")
    if i != len(der):
        raise PublishError("unexpected signature encoding")
    return out


def _openssl(openssl, args, data=None):
    try:
        r = subprocess.run([openssl, *args], input=data, capture_output=True, timeout=60)
    except OSError as e:
        raise PublishError(f"cannot run {openssl}: {e}") from None
    if r.returncode != 0:
        raise PublishError(f"openssl {args[0]} failed: {r.stderr.decode(errors='replace').strip()}")
    return r.stdout


def sign(data, key, openssl="openssl"):
    """Base64 of the raw signature of `data` with the private key file,
    checked against the key's own public half."""
    if not os.path.isfile(key):
        raise PublishError(f"{key}: no such key file")
    public = _openssl(openssl, ["pkey", "-in", key, "-pubout", "-outform", "DER"])
    if len(public) != len(SPKI_P256_PREFIX) + 65 or not public.startswith(SPKI_P256_PREFIX):
        raise PublishError(f"{key} is not a P-256 key (openssl ecparam -name prime256v1 -genkey)")
    der = _openssl(openssl, ["dgst", "-sha256", "-sign", key], data)
    with tempfile.TemporaryDirectory(prefix="publish-") as tmp:
        pub, sig = os.path.join(tmp, "pub.der"), os.path.join(tmp, "sig.der")
        with open(pub, "wb") as f:
            f.write(public)
        with open(sig, "wb") as f:
            f.write(der)
        _openssl(openssl, ["dgst", "-sha256", "-verify", pub, "-keyform", "DER", "-signature", sig], data)
    return base64.b64encode(der_to_raw(der)).decode("ascii")


def sha256_of(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


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


def manifest(installer, url, delay, version=None, exename=None, key=None, openssl="openssl", expires=None):
    """The manifest text for the installer file; signed when a private key
    file is given, with the expiry `expires` (see expiry())."""
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
    signed = ""
    if key is not None:
        digest = sha256_of(installer)
        end = expiry(expires)
        signature = sign(signed_text(version, url, exename, size, digest, end), key, openssl)
        signed = f"<sha256>{digest}</sha256>\n<expires>{end}</expires>\n<signature>{signature}</signature>\n"
    text = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n"
            f"<version>{version}</version>\n"
            f"<downurl>{url}</downurl>\n"
            f"<exename>{exename}</exename>\n"
            f"<filesize>{size}</filesize>\n"
            f"{signed}"
            f"<opendownfile>{delay}</opendownfile>\n"
            "</update>\n")
    if len(text) > MAX_DOCUMENT:
        raise PublishError("manifest too long for the updater")
    return text


def write_atomically(path, text, mode=0o644):
    # A server may be serving the old manifest: never let it see half a file.
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".update-", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
            # mkstemp makes the file its owner's alone; a web server running
            # as another account must be able to read a published file.
            os.fchmod(f.fileno(), mode)
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
    ap.add_argument("--key", help="private key (P-256, PEM) to sign the offer with")
    ap.add_argument("--expires", help="end of a signed offer: UTC time YYYY-MM-DDTHH:MM:SSZ or days from now "
                    f"(default {DEFAULT_EXPIRY_DAYS})")
    ap.add_argument("--openssl", default=os.environ.get("OPENSSL", "openssl"),
                    help="the openssl command (default: $OPENSSL or openssl)")
    ap.add_argument("-o", "--output", default="update.xml", help="manifest to write (default update.xml)")
    ap.add_argument("--mode", default="644", type=lambda v: int(v, 8),
                    help="permissions of the written manifest, octal (default 644: readable by a web server)")
    args = ap.parse_args(argv)
    try:
        if not os.path.isfile(args.installer):
            raise PublishError(f"{args.installer}: no such file")
        if args.expires is not None and args.key is None:
            raise PublishError("--expires needs --key: only signed offers expire")
        text = manifest(args.installer, args.url, args.delay, args.version, args.exename, args.key, args.openssl,
                        args.expires)
    except PublishError as e:
        print(f"publish-update: {e}", file=sys.stderr)
        return 1
    if args.key is not None:
        warning = expiry_warning(text.split("<expires>")[1].split("</expires>")[0])
        if warning:
            print(f"publish-update: warning: {warning}", file=sys.stderr)
    write_atomically(args.output, text, args.mode)
    print(f"{args.output}: {version_of(args.installer, args.version)} -> "
          f"{text.split('<downurl>')[1].split('</downurl>')[0]}" +
          (f" (signed, expires {text.split('<expires>')[1].split('</expires>')[0]})" if args.key else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
