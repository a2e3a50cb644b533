#!/usr/bin/env bash
# Every test: installs what is missing, builds for Windows and runs the tests
# under Wine (the harness starts and ends its own display, wineserver and
# stand-in hosts).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
ctest --preset windows
