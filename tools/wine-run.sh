#!/usr/bin/env bash
# Runs a Windows program in the build tree's Wine prefix (the emulator CTest
# uses for the cross build), in the test's harness lane.
#   wine-run.sh --build BUILD_DIR program [args]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tools/fixed-layout.sh
source "$here/fixed-layout.sh"
[ "${1:-}" = "--build" ] || { echo "usage: $0 --build DIR program [args]" >&2; exit 2; }
build=$2
shift 2
if [ -z "${VELBOX_LANE_ENTERED:-}" ] && [ -n "${CTEST_RESOURCE_GROUP_0_LANES:-}" ]; then
  exec "$here/lane.sh" "$build" "$0" --build "$build" "$@"
fi
source "$here/wine-env.sh" "$build"
exec wine "$@"
