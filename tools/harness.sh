#!/usr/bin/env bash
# Test harness under Wine: a private prefix in the build tree, one warm
# wineserver, a virtual display and the stand-in hosts, all started once per
# test run and ended by process id.
#   harness.sh start BUILD_DIR WEB_HOST MUSIC_HOST UPDATE_HOST
#   harness.sh stop BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:?start or stop}
build=$(cd "${2:?build dir}" && pwd)
h=$build/harness
mkdir -p "$h"
# shellcheck source=tools/wine-env.sh
source "$here/wine-env.sh" "$build"

stop_pid() {  # stop_pid NAME
  local f="$h/$1.pid"
  [ -f "$f" ] || return 0
  local pid; pid=$(cat "$f")
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$f"
}

case $cmd in
start)
  "$0" stop "$build" >/dev/null 2>&1 || true
  # Virtual display: a private one, so tests never touch the user's screen.
  n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$h/xvfb.log" 2>&1 &
  echo $! >"$h/xvfb.pid"
  echo "export DISPLAY=:$n" >"$h/env"
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

  "$here/wine-prefix.sh" "$build"
  # One wineserver for the whole run, detached with its streams away from
  # CTest (otherwise CTest waits for it forever).
  setsid wineserver -f -p </dev/null >"$h/wineserver.log" 2>&1 &
  echo $! >"$h/wineserver.pid"
  # Start Wine's services now, with their streams away from CTest: the
  # first Wine program of a prefix spawns them and they stay for the run.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Wine ends explorer (desktop, notification area) when its last user is
  # gone; held for the run, it is there before any client adds its icon and
  # stays between tests, as the shell does on a real system.
  keeper="$build/velShellKeeper.exe"
  if [ -f "$keeper" ]; then
    rm -f "$h/shell.ready"
    setsid wine "$keeper" "Z:${h//\//\\}\\shell.ready" </dev/null >"$h/keeper.log" 2>&1 &
    echo $! >"$h/keeper.pid"
    for _ in $(seq 1200); do
      [ -e "$h/shell.ready" ] && break
      kill -0 "$(cat "$h/keeper.pid")" 2>/dev/null || break
      sleep 0.1
    done
    [ -e "$h/shell.ready" ] || { echo "Wine's taskbar did not come up" >&2; exit 1; }
  fi

  setsid python3 "$here/standin/hosts.py" --web "$3" --music "$4" --update "$5" \
    --log "$h/requests.jsonl" </dev/null >"$h/hosts.log" 2>&1 &
  echo $! >"$h/hosts.pid"
  for _ in $(seq 100); do
    curl -s -o /dev/null "http://$5/_ctl/log" && break
    sleep 0.1
  done
  curl -sf -o /dev/null "http://$5/_ctl/log" || { echo "stand-in hosts did not start" >&2; cat "$h/hosts.log" >&2; exit 1; }
  echo "harness up: DISPLAY=:$n WINEPREFIX=$WINEPREFIX"
  ;;
stop)
  stop_pid hosts
  stop_pid keeper
  wineserver -k 2>/dev/null || true
  stop_pid wineserver
  stop_pid xvfb
  rm -f "$h/env"
  echo "harness down"
  ;;
*)
  echo "usage: $0 start|stop BUILD_DIR ..." >&2
  exit 2
  ;;
esac
