#!/usr/bin/env bash
# Swaps the installation's DownTmp for a link to a folder of the user's files
# during N uninstalls (20 by default; tests/installer/test_swapped_downloads.py)
# and prints one line a run: the swaps made, the swaps the uninstaller's hold
# refused, whether DownTmp was cleared or not entered, and the user's files
# lost (the test fails unless that is 0 every time). Run by hand on a built
# tree, as root.
#   tools/swap-downtmp.sh [N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-20}
cd "$root"
log=$root/build/windows/swap-downtmp.log
status=0
VELBOX_SWAP_RUNS=$n ctest --preset windows -R '^e2e\.installer\.swap$' -V >"$log" 2>&1 || status=$?
grep -Eo '(swap runs:.*|SWAP .*)$' "$log" || true
grep -Eo '[0-9]+% tests passed.*' "$log" || true
[ "$status" -eq 0 ] || echo "failed: see $log" >&2
exit "$status"
