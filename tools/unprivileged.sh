#!/usr/bin/env bash
# Wine as an unprivileged Unix identity, for tests that must see what a
# standard Windows user sees. No account is added: the system's `nobody`
# (VELBOX_UNPRIVILEGED_USER to choose another) runs with no capabilities and
# no way to gain any (no_new_privs), a private HOME and a Wine prefix of its
# own in a folder it owns, its own wineserver and notification area, and the
# caller's display. The prefix's "Program Files" folders belong to root and
# are read-only, so Wine answers ERROR_ACCESS_DENIED there, as Windows does
# for a standard user. Run as root.
#   unprivileged.sh start DIR DISPLAY [KEEPER_EXE]  DIR: an empty folder
#   unprivileged.sh run DIR PROGRAM [ARGS]  a Windows program or Wine tool
#   unprivileged.sh exec DIR COMMAND [ARGS] a Unix command, same identity
#   unprivileged.sh stop DIR               ends its wineserver and keeper
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:?start, run, exec or stop}
dir=$(cd "${2:?folder}" && pwd)
shift 2
user=${VELBOX_UNPRIVILEGED_USER:-nobody}
group=$(id -gn "$user")
build=$dir/build
prefix=$build/wineprefix
h=$build/harness

# The identity and environment every step of the user runs with: no
# capabilities, none to gain (setuid files included), nothing of root's.
as_the_user=(setpriv --reuid="$user" --regid="$group" --clear-groups --no-new-privs --inh-caps=-all --bounding-set=-all
  env -i HOME="$dir/home" USER="$user" LOGNAME="$user" PATH=/usr/local/bin:/usr/bin:/bin TMPDIR="$dir/tmp")
# The rest of the line in the Wine environment of the private build folder
# (wine-env.sh: prefix, code page 936, display).
wine_env=(bash -c 'source "$0/tools/wine-env.sh" "$0/build" && exec "$@"' "$dir")

as_user() { "${as_the_user[@]}" "$@"; }
in_wine_env() { "${as_the_user[@]}" "${wine_env[@]}" "$@"; }
# The same in the background, in a session of its own.
in_wine_env_detached() {  # LOG COMMAND...
  local log=$1
  shift
  setsid "${as_the_user[@]}" "${wine_env[@]}" "$@" </dev/null >"$log" 2>&1 &
}

# shellcheck source=tools/pids.sh
source "$here/pids.sh"

case $cmd in
start)
  display=${1:?display}
  keeper=${2:-}
  [ "$(id -u)" = 0 ] || { echo "unprivileged.sh: run as root" >&2; exit 1; }
  id "$user" >/dev/null
  mkdir -p "$dir/home" "$dir/tmp" "$dir/tools" "$h"
  # Its own copies: the repository may lie where the user cannot read.
  cp "$here/wine-env.sh" "$here/wine-prefix.sh" "$dir/tools/"
  echo "export DISPLAY=$display" >"$h/lane0.env"
  if [ -n "$keeper" ]; then cp "$keeper" "$dir/tools/velShellKeeper.exe"; fi
  chown -R "$user:$group" "$dir"
  chmod 700 "$dir"

  in_wine_env "$dir/tools/wine-prefix.sh" "$build"
  for pf in "Program Files" "Program Files (x86)"; do
    [ -d "$prefix/drive_c/$pf" ] || continue
    chown -R root:root "$prefix/drive_c/$pf"
    chmod -R u=rwX,go=rX "$prefix/drive_c/$pf"
    if as_user test -w "$prefix/drive_c/$pf"; then
      echo "unprivileged.sh: $user can still write $pf" >&2
      exit 1
    fi
  done

  # One wineserver for the run, as the harness keeps one.
  in_wine_env_detached "$dir/tmp/wineserver.log" wineserver -f -p
  echo $! >"$h/wineserver.pid"
  in_wine_env wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  if [ -n "$keeper" ]; then
    rm -f "$h/shell.ready"
    in_wine_env_detached "$dir/tmp/keeper.log" wine "$dir/tools/velShellKeeper.exe" "Z:${h//\//\\}\\shell.ready"
    echo $! >"$h/keeper.pid"
    for _ in $(seq 1200); do
      [ -e "$h/shell.ready" ] && break
      alive "$(cat "$h/keeper.pid")" || break
      sleep 0.1
    done
    [ -e "$h/shell.ready" ] || { echo "unprivileged.sh: Wine's taskbar did not come up" >&2; exit 1; }
  fi
  echo "unprivileged Wine up: $user, WINEPREFIX=$prefix, DISPLAY=$display"
  ;;
run)
  in_wine_env wine "$@"
  ;;
exec)
  in_wine_env "$@"
  ;;
stop)
  stop_pidfile "$h/keeper.pid"
  in_wine_env wineserver -k 2>/dev/null || true
  stop_pidfile "$h/wineserver.pid"
  ;;
*)
  echo "usage: $0 start|run|exec|stop DIR ..." >&2
  exit 2
  ;;
esac
