#!/bin/sh
# Starts (start) or stops (stop) the JACK server the standalone program's tests
# use: jackd with the dummy backend (no sound card needed), without realtime
# scheduling (CI runs in containers without it), 48000 Hz and 64 frames, under
# the server name given as the second argument, so no user's server is touched.
# A server that already answers under that name is used as it is.
set -e
. "$(dirname "$0")/server-session.sh"
name="$2"
pidfile="${TMPDIR:-/tmp}/tolvane-jackd-$name.pid"
log="${TMPDIR:-/tmp}/tolvane-jackd-$name.log"
answers() { JACK_DEFAULT_SERVER="$name" JACK_NO_START_SERVER=1 jack_lsp >/dev/null 2>&1; }
case "$1" in
start)
  if answers; then exit 0; fi
  jackd --no-realtime --silent --name "$name" -d dummy -r 48000 -p 64 >"$log" 2>&1 &
  echo $! > "$pidfile"
  await_server "$pidfile" 150 && exit 0
  echo "jackd did not start as '$name':" >&2
  cat "$log" >&2
  exit 1
  ;;
stop) stop_server "$pidfile" ;;
esac
