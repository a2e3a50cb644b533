#!/usr/bin/env bash
# Creates the build tree's Wine prefix once: wineboot, a CJK font behind
# "宋体", no crash dialogs.   wine-prefix.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
source "$here/wine-env.sh" "$build"
stamp="$WINEPREFIX/.velbox-ready"
private_user_folders() {
  # Wine links the user's Desktop, Documents... to the Unix home folder:
  # make them folders of the prefix, so tests never touch the real home.
  local d
  for d in "$WINEPREFIX"/drive_c/users/*/*; do
    if [ -L "$d" ]; then rm -f "$d" && mkdir -p "$d"; fi
  done
}
if [ -f "$stamp" ]; then private_user_folders; exit 0; fi
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
]
with open(sys.argv[1], "w", encoding="utf-16") as f:
    f.write("\r\n".join(lines) + "\r\n")
PY
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
wineserver -w || true
private_user_folders
touch "$stamp"
