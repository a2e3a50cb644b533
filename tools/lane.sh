#!/usr/bin/env bash
# Runs a test in the harness lane CTest gave it (its resource "lanes"), or in
# lane 0 when CTest gave none: in the lane's network namespace, with
# VELBOX_LANE set for tools/wine-env.sh and tests/support/vel.py.
#   lane.sh BUILD_DIR command [args]
set -euo pipefail
# shellcheck source=tools/fixed-layout.sh
source "$(dirname "$0")/fixed-layout.sh"
build=$(cd "${1:?build dir}" && pwd)
shift
if [ -z "${VELBOX_LANE_ENTERED:-}" ]; then
  lane=0
  # CTest: CTEST_RESOURCE_GROUP_0_LANES=id:1,slots:1
  given=${CTEST_RESOURCE_GROUP_0_LANES:-}
  if [[ $given =~ id:([0-9]+) ]]; then lane=${BASH_REMATCH[1]}; fi
  export VELBOX_LANE=$lane VELBOX_LANE_ENTERED=1
  ns=$(cat "$build/harness/lane$lane.netns" 2>/dev/null || true)
  if [ -n "$ns" ]; then
    exec ip netns exec "$ns" "$@"
  fi
fi
exec "$@"
