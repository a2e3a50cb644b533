#!/usr/bin/env bash
# Every test: installs what is missing; builds the pure logic natively with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs its unit tests and
# fuzz targets; builds for Windows and runs the tests under Wine (the harness
# starts and ends its own display, wineserver and stand-in hosts).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install-deps.sh

cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)"
ctest --preset native

cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
ctest --preset windows
