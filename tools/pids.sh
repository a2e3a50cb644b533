# Sourced: ending the processes a script started, by the pid files it kept.

# A process that has ended but was not reaped (its parent is gone and the
# machine's first process does not reap) counts as gone.
alive() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# Ends the process of a pid file (5 s to go, then killed) and removes the file.
stop_pidfile() {
  local f=$1
  [ -f "$f" ] || return 0
  local pid; pid=$(cat "$f")
  if alive "$pid"; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do alive "$pid" || break; sleep 0.1; done
    alive "$pid" && kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$f"
}
