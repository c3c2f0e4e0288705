#!/bin/sh
# Starts (start) or stops (stop) the X server the window tests use: Xvfb on the
# display given as the second argument, unless a server already answers there.
set -e
display="$2"
pidfile="${TMPDIR:-/tmp}/tolvane-xvfb-${display#:}.pid"
case "$1" in
start)
  if xdpyinfo -display "$display" >/dev/null 2>&1; then exit 0; fi
  Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! > "$pidfile"
  for i in $(seq 50); do
    xdpyinfo -display "$display" >/dev/null 2>&1 && exit 0
    sleep 0.1
  done
  echo "Xvfb did not start on $display" >&2
  exit 1
  ;;
stop)
  # Wait until it is gone: the next start must not find a server on its way out.
  if [ -f "$pidfile" ]; then
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    for i in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
  fi
  rm -f "$pidfile"
  ;;
esac
