#!/usr/bin/env bash
# Test harness under Wine, started once per test run and ended by process
# id. It runs one or more lanes side by side; each lane is a world of its
# own: a private Wine prefix with its own wineserver, a virtual display,
# the stand-in hosts, and (lanes after the first) a network namespace, so
# that every lane's hosts listen on the addresses the programs were built
# for and nothing of one lane reaches another.
#   harness.sh start BUILD_DIR WEB_HOST MUSIC_HOST UPDATE_HOST
#   harness.sh stop BUILD_DIR
# The number of lanes is the build's (harness/lanes, written at configure
# time); CTest gives each test one lane (tools/lane.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tools/fixed-layout.sh
source "$here/fixed-layout.sh"
cmd=${1:?start or stop}
build=$(cd "${2:?build dir}" && pwd)
h=$build/harness
mkdir -p "$h"
lanes=$(cat "$h/lanes" 2>/dev/null || echo 1)

# shellcheck source=tools/pids.sh
source "$here/pids.sh"

# Lane $1's network namespace; nothing for a lane without one.
lane_ns() { cat "$h/lane$1.netns" 2>/dev/null || true; }

# Runs a command in lane $1's network namespace (as it is, without one).
in_lane() {
  local ns; ns=$(lane_ns "$1")
  shift
  if [ -n "$ns" ]; then ip netns exec "$ns" "$@"; else "$@"; fi
}

# Starts a command of lane $1 detached in a session of its own, its streams
# in the file $2, and writes its own process id into $3: the subshell
# execs into it, so the id is the command's, not a shell's that would leave
# it running when ended.
spawn_in_lane() {
  local log=$2 pidfile=$3 ns; ns=$(lane_ns "$1")
  shift 3
  (if [ -n "$ns" ]; then exec ip netns exec "$ns" setsid "$@"; else exec setsid "$@"; fi) \
    </dev/null >"$log" 2>&1 &
  echo $! >"$pidfile"
}

start_lane() {  # start_lane K WEB MUSIC UPDATE
  local k=$1 d="$h/lane$1"
  mkdir -p "$d"
  export VELBOX_LANE=$k
  # shellcheck source=tools/wine-env.sh
  source "$here/wine-env.sh" "$build"
  rm -f "$h/lane$k.env"

  if [ "$k" -gt 0 ]; then
    # Lane 0 lives in the machine's own network (the benchmarks and the
    # main job use it as it is); each further lane has a namespace of its
    # own, named after the build tree so that other builds' harnesses on the
    # machine keep theirs.
    local ns; ns="velbox-$(printf '%s' "$build" | md5sum | cut -c1-8)-$k"
    ip netns del "$ns" 2>/dev/null || true
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    echo "$ns" >"$h/lane$k.netns"
  fi

  # Virtual display: a private one, so tests never touch the user's screen.
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$d/xvfb.log" 2>&1 &
  echo $! >"$d/xvfb.pid"
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done


  # One wineserver for the whole run, detached with its streams away from
  # CTest (otherwise CTest waits for it forever). In the lane's network:
  # Wine's sockets are made by its server.
  spawn_in_lane "$k" "$d/wineserver.log" "$d/wineserver.pid" wineserver -f -p
  # Start Wine's services now, with their streams away from CTest: the
  # first Wine program of a prefix spawns them and they stay for the run.
  in_lane "$k" wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Wine ends explorer (desktop, notification area) when its last user is
  # gone; held for the run, it is there before any client adds its icon and
  # stays between tests, as the shell does on a real system.
  local keeper="$build/velShellKeeper.exe"
  if [ -f "$keeper" ]; then
    rm -f "$d/shell.ready"
    spawn_in_lane "$k" "$d/keeper.log" "$d/keeper.pid" wine "$keeper" "Z:${d//\//\\}\\shell.ready"
  fi

  spawn_in_lane "$k" "$d/hosts.log" "$d/hosts.pid" \
    python3 "$here/standin/hosts.py" --web "$2" --music "$3" --update "$4" --log "$d/requests.jsonl"
  echo "export DISPLAY=:$n" >"$h/lane$k.env"
}

wait_lane() {  # wait_lane K UPDATE_HOST
  local k=$1 d="$h/lane$1"
  if [ -f "$d/keeper.pid" ]; then
    for _ in $(seq 1200); do
      [ -e "$d/shell.ready" ] && break
      alive "$(cat "$d/keeper.pid")" || break
      sleep 0.1
    done
    [ -e "$d/shell.ready" ] || { echo "lane $k: Wine's taskbar did not come up" >&2; return 1; }
  fi
  for _ in $(seq 100); do
    in_lane "$k" curl -s -o /dev/null "http://$2/_ctl/log" && break
    sleep 0.1
  done
  in_lane "$k" curl -sf -o /dev/null "http://$2/_ctl/log" && alive "$(cat "$d/hosts.pid")" ||
    { echo "lane $k: stand-in hosts did not start (is another program on their ports?)" >&2
      cat "$d/hosts.log" >&2; return 1; }
}

# Every lane's prefix, before any wineserver runs: lane 0's is made by
# wineboot, the others are copies of it.
make_prefixes() {
  (export VELBOX_LANE=0; "$here/wine-prefix.sh" "$build")
  local k
  for k in $(seq 1 $((lanes - 1))); do
    (export VELBOX_LANE=$k VELBOX_PREFIX_TEMPLATE="$build/wineprefix"; "$here/wine-prefix.sh" "$build")
  done
}

case $cmd in
start)
  "$0" stop "$build" >/dev/null 2>&1 || true
  make_prefixes
  for k in $(seq 0 $((lanes - 1))); do
    (start_lane "$k" "$3" "$4" "$5")
  done
  for k in $(seq 0 $((lanes - 1))); do
    wait_lane "$k" "$5"
  done
  echo "harness up: $lanes lane(s) in $h"
  ;;
stop)
  for d in "$h"/lane*/; do
    [ -d "$d" ] || continue
    k=${d%/}; k=${k##*/lane}
    stop_pidfile "$d/hosts.pid"
    stop_pidfile "$d/keeper.pid"
    (export VELBOX_LANE=$k; source "$here/wine-env.sh" "$build"; wineserver -k 2>/dev/null || true)
    stop_pidfile "$d/wineserver.pid"
    stop_pidfile "$d/xvfb.pid"
    ns=$(lane_ns "$k")
    [ -n "$ns" ] && ip netns del "$ns" 2>/dev/null || true
    rm -f "$h/lane$k.env" "$h/lane$k.netns"
  done
  echo "harness down"
  ;;
*)
  echo "usage: $0 start|stop BUILD_DIR ..." >&2
  exit 2
  ;;
esac
