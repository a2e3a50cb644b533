#!/usr/bin/env bash
# The main job: installs what is missing, builds (programs and installer), starts the stand-in hosts
# and runs velBox.exe under Wine against them. On a machine without a display
# it runs the client under a virtual one for a while and leaves screenshots in
# build/windows/screenshots/.
#   VELBOX_DEMO_SECONDS: how long the headless run lasts (default 40)
set -euo pipefail
# shellcheck source=tools/fixed-layout.sh
source "$(dirname "$0")/fixed-layout.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" --target velBox velUpdate installer traydriver
build=$root/build/windows
demo=$build/demo
mkdir -p "$build/harness" "$demo"
source tools/wine-env.sh "$build"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
  n=80
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$build/harness/demo-xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi
tools/wine-prefix.sh "$build"

hosts() { grep -E "^VELBOX_$1_HOST:" "$build/CMakeCache.txt" | cut -d= -f2; }
# The update server offers this build's installer as a release is offered:
# signed with the key the updater carries (the build tree's own, made by the
# windows preset). The demo's client is that version, so its updater finds
# nothing newer.
publish=()
key=$(sed -n 's/^VELBOX_UPDATE_PRIVATE_KEY:INTERNAL=//p' "$build/CMakeCache.txt")
installer=$(ls "$build"/VelmoraSetup-*.exe | head -n 1)
if [ -n "$key" ]; then
  python3 tools/publish-update.py "$installer" --url "http://$(hosts UPDATE)/box/" --delay 5 --key "$key" \
    -o "$demo/update.xml"
  publish=(--manifest "$demo/update.xml" --installer "$installer")
fi
python3 tools/standin/hosts.py --web "$(hosts WEB)" --music "$(hosts MUSIC)" --update "$(hosts UPDATE)" \
  --log "$build/harness/demo-requests.jsonl" "${publish[@]}" &
pids+=($!)
for _ in $(seq 100); do curl -s -o /dev/null "http://$(hosts UPDATE)/_ctl/log" && break; sleep 0.1; done

cp "$build/velBox.exe" "$build/velUpdate.exe" "$demo/"
[ -f artwork/Icon.ico ] && cp artwork/Icon.ico "$demo/"
echo "starting $demo/velBox.exe"
if [ $headless -eq 0 ]; then
  wine "$demo/velBox.exe"
  exit 0
fi
shots=$build/screenshots
mkdir -p "$shots"
wine "$demo/velBox.exe" </dev/null >"$build/harness/demo-velbox.log" 2>&1 &
pids+=($!)
started=$SECONDS
seconds=${VELBOX_DEMO_SECONDS:-40}
# What the display shows, read in one request (tests/support/screen.py).
shot() { python3 -m tests.support.screen "$shots/$1" "$DISPLAY" 2>/dev/null || true; }
driver() { wine "$build/traydriver.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
for t in 5 20 "$seconds"; do
  [ "$t" -le "$seconds" ] || continue
  while [ $((SECONDS - started)) -lt "$t" ]; do sleep 1; done
  shot "velbox-${t}s.png"
  if [ "$t" = 5 ]; then
    # The tray menu's "设置中心" (second item), shown for a few seconds.
    menu=$(driver find 20000)
    if [ -n "$menu" ]; then
      driver post "$menu" 0x200 0 0x204 >/dev/null
      driver menu 10000 >/dev/null && driver key 0x28 0x28 0x0D >/dev/null
      sleep 3
      shot velbox-settings.png
      main=$(driver main "$menu")
      for w in $(driver shown "$menu" | awk '{print $1}'); do
        [ "$w" != "$main" ] && driver post "$w" 0x10 0 0 >/dev/null
      done
    fi
  fi
done
echo "screenshots in $shots:"
ls -1 "$shots"
echo "requests the stand-in hosts received: $build/harness/demo-requests.jsonl"
echo "installer: $(ls "$build"/VelmoraSetup-*.exe)"
