#!/usr/bin/env bash
# Prints figures (not a test): what a 256 MiB installer costs velUpdate.exe
# over a small one, against curl on the same loopback stand-in server, and
# what a run without an update costs.
#   bench-update.sh [BUILD_DIR]      BENCH_UPDATE_MIB=N: N MiB instead of 256
# Uses the harness of the build tree when it is up, else starts it and
# stops it again. The update host is the build's VELBOX_UPDATE_HOST.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/windows}" && pwd)
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
web=$(cache VELBOX_WEB_HOST); music=$(cache VELBOX_MUSIC_HOST); update=$(cache VELBOX_UPDATE_HOST)
# The build's updater takes only offers signed with its key: the private
# half of the build tree's throwaway pair signs them (a build without one
# can be benchmarked only with VELBOX_UNSIGNED_UPDATES).
key=$(cache VELBOX_UPDATE_PRIVATE_KEY)
unsigned=$(cache VELBOX_UNSIGNED_UPDATES)
if [ -z "$key" ] && [ "$unsigned" != "ON" ]; then
  echo "bench-update: $build has no key of its own to sign offers with (VELBOX_THROWAWAY_UPDATE_KEY)" >&2
  exit 1
fi
ctl="http://$update/_ctl"
mib=${BENCH_UPDATE_MIB:-256}

started=
if ! curl -sf -o /dev/null "$ctl/log"; then
  "$here/harness.sh" start "$build" "$web" "$music" "$update" >/dev/null
  started=1
fi
work=$(mktemp -d)
app="$build/wineprefix/drive_c/velbench-$$"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora音乐盒'

cleanup() {
  "$here/wine-run.sh" --build "$build" reg delete "$uninstall_key" /f /reg:32 >/dev/null 2>&1 || true
  rm -rf "$work" "$app"
  [ -n "$started" ] && "$here/harness.sh" stop "$build" >/dev/null
  return 0
}
trap cleanup EXIT

# The installers: the test installer, and the same with $mib MiB appended
# (still a program that runs).
cp "$build/velTestInstaller.exe" "$work/small.exe"
cp "$work/small.exe" "$work/big.exe"
head -c $((mib * 1024 * 1024)) /dev/zero >>"$work/big.exe"
mkdir -p "$app"
# An installation, as the updater starts installers only for one: its
# client beside it and its uninstall key (taken away again at the end).
cp "$build/velUpdate.exe" "$build/velBox.exe" "$app/"
"$here/wine-run.sh" --build "$build" reg add "$uninstall_key" /v InstallLocation /d "C:\\velbench-$$" /f /reg:32 \
  >/dev/null 2>&1
printf '<config><autorun>1</autorun><shortlnk>1</shortlnk><closetotray>1</closetotray><ver>1.0.0</ver></config>' \
  >"$app/cfg.xml"

route() { curl -sf -o /dev/null -X POST --data-binary "$1" "$ctl/route"; }
now() { date +%s.%N; }
route "{\"path\": \"/box/small.exe\", \"body_file\": \"$work/small.exe\"}"
route "{\"path\": \"/box/big.exe\", \"body_file\": \"$work/big.exe\"}"

# The offer of one of the installers, as a publisher makes it.
publish() {  # publish NAME
  local signing=()
  [ -n "$key" ] && signing=(--key "$key")
  python3 "$here/publish-update.py" "$work/$1.exe" --url "http://$update/box/" --delay 1 --version 9.9.9 \
    "${signing[@]}" -o "$work/$1.xml" >/dev/null
  route "{\"path\": \"/box/update.xml\", \"body_file\": \"$work/$1.xml\"}"
}

# velUpdate from start to end: two manifest requests, the download, the
# delay of 1 s, the launch.
vel_run() {  # vel_run NAME -> seconds
  rm -rf "$app/DownTmp"
  publish "$1"
  local t0; t0=$(now)
  "$here/wine-run.sh" --build "$build" "$app/velUpdate.exe"
  local t1; t1=$(now)
  cmp -s "$work/$1.exe" "$app/DownTmp/$1.exe" || { echo "velUpdate did not store $1.exe" >&2; exit 1; }
  echo "$t1 - $t0" | bc -l
}
curl_run() {
  local t0; t0=$(now)
  curl -sf -o "$work/curl.out" "http://$update/box/$1.exe"
  local t1; t1=$(now)
  echo "$t1 - $t0" | bc -l
}
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

# Warm up Wine and the page cache once.
vel_run small >/dev/null
vs=(); vb=(); cs=(); cb=()
for _ in 1 2; do
  vs+=("$(vel_run small)"); vb+=("$(vel_run big)")
  cs+=("$(curl_run small)"); cb+=("$(curl_run big)")
done
v_small=$(best "${vs[@]}"); v_big=$(best "${vb[@]}")
c_small=$(best "${cs[@]}"); c_big=$(best "${cb[@]}")
v_extra=$(echo "$v_big - $v_small" | bc -l)
c_extra=$(echo "$c_big - $c_small" | bc -l)
ratio=$(echo "$v_extra / $c_extra" | bc -l)

# A run without an update, beside a bare process start and the manifest
# fetched by curl.
rm -rf "$app/DownTmp"
route "{\"path\": \"/box/update.xml\", \"body\": \"<version>1.0.0</version>\"}"
nu=(); ps=(); cm=()
for _ in 1 2 3; do
  t0=$(now); "$here/wine-run.sh" --build "$build" "$app/velUpdate.exe"; t1=$(now); nu+=("$(echo "$t1 - $t0" | bc -l)")
  t0=$(now); "$here/wine-run.sh" --build "$build" "$work/small.exe"; t1=$(now); ps+=("$(echo "$t1 - $t0" | bc -l)")
  t0=$(now); curl -sf -o /dev/null "http://$update/box/update.xml?1"; t1=$(now); cm+=("$(echo "$t1 - $t0" | bc -l)")
done
[ -d "$app/DownTmp" ] && { echo "a run without an update made DownTmp" >&2; exit 1; }

printf 'installer download over loopback (best of 2 each)\n'
printf '  velUpdate.exe  small %6.3f s   %d MiB more %7.3f s   extra %7.3f s\n' "$v_small" "$mib" "$v_big" "$v_extra"
printf '  curl           small %6.3f s   %d MiB more %7.3f s   extra %7.3f s\n' "$c_small" "$mib" "$c_big" "$c_extra"
printf '  ratio of the extra times velUpdate/curl: %.2f (target <= 1.25)\n' "$ratio"
printf 'run without an update (best of 3)\n'
printf '  velUpdate.exe %.3f s; bare Wine process start %.3f s; manifest by curl %.3f s\n' \
  "$(best "${nu[@]}")" "$(best "${ps[@]}")" "$(best "${cm[@]}")"
