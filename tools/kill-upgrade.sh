#!/usr/bin/env bash
# Kills the upgrade of the current build's installation at N points (100 by
# default) and prints what each program file was afterwards, one line a
# point, then the outcomes counted. Every point must leave each file the old
# or the new one, a client that starts and an upgrade that completes after
# it (the test fails otherwise). Run by hand on a built tree, as root.
#   tools/kill-upgrade.sh [N] [seed]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-100}
cd "$root"
log=$root/build/windows/kill-upgrade.log
status=0
VELBOX_KILL_POINTS=$n VELBOX_KILL_SEED=${2:-$RANDOM} \
  ctest --preset windows -R '^e2e\.installer\.kill$' -V >"$log" 2>&1 || status=$?
grep -Eo '(kill points:.*|KILL .*|OUTCOME .*)$' "$log" || true
grep -Eo '[0-9]+% tests passed.*' "$log" || true
[ "$status" -eq 0 ] || echo "failed: see $log" >&2
exit "$status"
