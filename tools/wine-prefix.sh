#!/usr/bin/env bash
# Creates the build tree's Wine prefix once: wineboot, a CJK font behind
# "宋体", no crash dialogs, unmanaged windows.   wine-prefix.sh BUILD_DIR
# With VELBOX_PREFIX_TEMPLATE naming a ready prefix, the new one is a copy of
# it instead (seconds instead of a wineboot); Wine's own files are only ever
# read, so they are linked rather than copied.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
source "$here/wine-env.sh" "$build"
# The stamp names the settings' version, so an older prefix gets the new ones.
stamp="$WINEPREFIX/.velbox-ready-2"

# The user's shell folders (Desktop, Documents, ...) stay inside the prefix:
# Wine links them to the Unix home, which every build and test run on the
# machine would then share (tests create and delete desktop shortcuts).
sandbox_user_folders() {
  local d link
  for d in "$WINEPREFIX"/drive_c/users/*/; do
    for link in "$d"*; do
      [ -L "$link" ] || continue
      rm -f "$link"
      mkdir -p "$link"
    done
  done
}

if [ -f "$stamp" ]; then
  sandbox_user_folders
  exit 0
fi
template=${VELBOX_PREFIX_TEMPLATE:-}
if [ -n "$template" ] && [ -f "$template/.velbox-ready-2" ] && [ "$template" != "$WINEPREFIX" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX/drive_c"
  (cd "$template" && for f in * .[!.]*; do
    [ -e "$f" ] && [ "$f" != drive_c ] && cp -a "$f" "$WINEPREFIX/"
  done
  cd drive_c && for f in *; do
    case $f in
      windows) cp -al "$f" "$WINEPREFIX/drive_c/" ;;
      velbox-tests) ;;
      *) cp -a "$f" "$WINEPREFIX/drive_c/" ;;
    esac
  done)
  sandbox_user_folders
  exit 0
fi
mkdir -p "$WINEPREFIX"
wineboot -i >"$build/harness/wineboot.log" 2>&1 || true
wineserver -w || true
reg="$build/harness/prefix.reg"
python3 - "$reg" <<'PY'
import sys
font = "WenQuanYi Zen Hei"
lines = [
    "Windows Registry Editor Version 5.00", "",
    r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]",
    f'"宋体"="{font}"', f'"SimSun"="{font}"', f'"新宋体"="{font}"', f'"NSimSun"="{font}"',
    f'"微软雅黑"="{font}"', f'"Microsoft YaHei"="{font}"', "",
    r"[HKEY_CURRENT_USER\Software\Wine\WineDbg]", '"ShowCrashDialog"=dword:00000000', "",
    r"[HKEY_CURRENT_USER\Software\Wine\MSHTML]", '"GeckoUrl"=""', "",
    # The virtual displays have no window manager: managed windows would
    # wait for one (two seconds at every hide).
    r"[HKEY_CURRENT_USER\Software\Wine\X11 Driver]", '"Managed"="N"', "",
]
with open(sys.argv[1], "w", encoding="utf-16") as f:
    f.write("\r\n".join(lines) + "\r\n")
PY
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
wineserver -w || true
sandbox_user_folders
touch "$stamp"
