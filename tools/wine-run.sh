#!/usr/bin/env bash
# Runs a Windows program in the build tree's Wine prefix (the emulator CTest
# uses for the cross build).   wine-run.sh --build BUILD_DIR program [args]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ "${1:-}" = "--build" ] || { echo "usage: $0 --build DIR program [args]" >&2; exit 2; }
build=$2
shift 2
source "$here/wine-env.sh" "$build"
exec wine "$@"
