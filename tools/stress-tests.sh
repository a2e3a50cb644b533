#!/usr/bin/env bash
# Reruns the Windows test suite N times on the current build (nothing is
# rebuilt) and prints, per test, how often it passed and how long it took;
# failing test cases are named with their count. Run by hand, not by CI.
#   tools/stress-tests.sh N [ctest arguments, e.g. -R e2e]
# The log of every run stays in build/windows/stress/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:?how many runs}
shift
build=$root/build/windows
out=$build/stress
rm -rf "$out"
mkdir -p "$out"
cd "$root"
for i in $(seq 1 "$n"); do
  start=$SECONDS
  ctest --preset windows "$@" >"$out/run-$i.out" 2>&1 || true
  cp "$build/Testing/Temporary/LastTest.log" "$out/run-$i.log"
  echo "run $i of $n: $((SECONDS - start)) s, $(grep -Eo '[0-9]+% tests passed.*' "$out/run-$i.out" || echo 'no summary')"
done
python3 - "$out" "$n" <<'PY'
import collections
import pathlib
import re
import sys

out, n = pathlib.Path(sys.argv[1]), int(sys.argv[2])
passed = collections.Counter()
seen = collections.Counter()
seconds = collections.defaultdict(list)
cases = collections.Counter()
wall = []
line = re.compile(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.+\W*(Passed|\*\*\*Failed|Failed|\*\*\*Timeout|Not Run|\*\*\*Exception)\S*\s+([\d.]+) sec", re.M)
for i in range(1, n + 1):
    text = (out / f"run-{i}.out").read_text(errors="replace")
    for m in line.finditer(text):
        name, status, secs = m.group(1), m.group(2), float(m.group(3))
        seen[name] += 1
        seconds[name].append(secs)
        if status == "Passed":
            passed[name] += 1
    total = re.search(r"Total Test time \(real\) =\s*([\d.]+) sec", text)
    if total:
        wall.append(float(total.group(1)))
    log = (out / f"run-{i}.log").read_text(errors="replace")
    for m in re.finditer(r"^(?:FAIL|ERROR): (\S+) \(([\w.]+)\)", log, re.M):
        cases[f"{m.group(2)}"] += 1
    for m in re.finditer(r"^\[  FAILED  \] (\S+) \(\d+ ms\)", log, re.M):
        cases[m.group(1)] += 1
width = max((len(k) for k in seen), default=10)
print(f"\n{'test':<{width}}  passed  mean s   max s")
for name in sorted(seen, key=lambda k: -max(seconds[k])):
    s = seconds[name]
    print(f"{name:<{width}}  {passed[name]:>2}/{seen[name]:<3}  {sum(s) / len(s):6.1f}  {max(s):6.1f}")
if wall:
    print(f"\nwhole suite: mean {sum(wall) / len(wall):.0f} s, max {max(wall):.0f} s over {len(wall)} runs")
if cases:
    print("\nfailed test cases:")
    for case, k in cases.most_common():
        print(f"  {k}x  {case}")
sys.exit(0 if all(passed[k] == seen[k] for k in seen) else 1)
PY
