#!/bin/sh
# Starts (start) or stops (stop) the X server the window tests use: Xvfb on the
# display given as the second argument, unless a server already answers there.
set -e
. "$(dirname "$0")/server-session.sh"
display="$2"
pidfile="${TMPDIR:-/tmp}/tolvane-xvfb-${display#:}.pid"
answers() { xdpyinfo -display "$display" >/dev/null 2>&1; }
case "$1" in
start)
  if answers; then exit 0; fi
  Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! > "$pidfile"
  await_server "$pidfile" 50 && exit 0
  echo "Xvfb did not start on $display" >&2
  exit 1
  ;;
stop) stop_server "$pidfile" ;;
esac
