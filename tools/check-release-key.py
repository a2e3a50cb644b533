#!/usr/bin/env python3
"""Refuses an update signing key that must never reach users: the test-only
keys committed in tests/updater/keys/ (their private halves are public, so
anyone could sign offers that such an updater takes).

  check-release-key.py PUBLIC_KEY_FILE     exit 0: usable; 1: refused
"""
import importlib.util
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
TEST_KEYS = sorted((ROOT / "tests" / "updater" / "keys").glob("*.pub.pem"))


def _pubkey():
    info = importlib.util.spec_from_file_location("pubkey_header", ROOT / "tools" / "pubkey-header.py")
    module = importlib.util.module_from_spec(info)
    info.loader.exec_module(module)
    return module


def refusal(key_file):
    """Why the key may not be shipped, or None."""
    pubkey = _pubkey()
    try:
        point = pubkey.point_of(Path(key_file).read_bytes())
    except (OSError, pubkey.KeyError_) as e:
        return f"{key_file}: {e}"
    for test_key in TEST_KEYS:
        if pubkey.point_of(test_key.read_bytes()) == point:
            return (f"{key_file} is the test-only key {test_key.name}, whose private half is public: "
                    "build the release with the publisher's own key")
    return None


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    why = refusal(argv[1])
    if why:
        print(f"check-release-key: {why}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
