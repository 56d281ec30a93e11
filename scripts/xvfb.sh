#!/usr/bin/env bash
# xvfb.sh start STATE | stop STATE
# Starts one Xvfb on a free display number for a test run and records
# "DISPLAY_NUMBER PID" in STATE; stop kills that PID.
set -uo pipefail
cmd=${1:?usage: xvfb.sh start|stop STATE}
state=${2:?usage: xvfb.sh start|stop STATE}
case "$cmd" in
start)
  if [ -f "$state" ]; then
    read -r n pid <"$state" || true
    if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null; then echo "Xvfb :$n already running"; exit 0; fi
  fi
  for n in $(seq 90 190); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    # Detached, with its output away from ctest's pipes so ctest does not wait on it.
    setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state.log" 2>&1 </dev/null &
    pid=$!
    for _ in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      echo "$n $pid" >"$state"
      echo "Xvfb :$n started (pid $pid)"
      exit 0
    fi
  done
  echo "could not start Xvfb" >&2
  exit 1
  ;;
stop)
  [ -f "$state" ] || exit 0
  read -r n pid <"$state" || true
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  rm -f "$state"
  echo "Xvfb :${n:-?} stopped"
  ;;
*) echo "usage: xvfb.sh start|stop STATE" >&2; exit 2 ;;
esac
