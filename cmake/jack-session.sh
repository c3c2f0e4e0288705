#!/bin/sh
# Starts (start) or stops (stop) the JACK server the standalone program's tests
# use: jackd with the dummy backend (no sound card needed), without realtime
# scheduling (CI runs in containers without it), 48000 Hz and 64 frames, under
# the server name given as the second argument, so no user's server is touched.
# A server that already answers under that name is used as it is.
set -e
name="$2"
pidfile="${TMPDIR:-/tmp}/tolvane-jackd-$name.pid"
log="${TMPDIR:-/tmp}/tolvane-jackd-$name.log"
answers() { JACK_DEFAULT_SERVER="$name" JACK_NO_START_SERVER=1 jack_lsp >/dev/null 2>&1; }
case "$1" in
start)
  if answers; then exit 0; fi
  jackd --no-realtime --silent --name "$name" -d dummy -r 48000 -p 64 >"$log" 2>&1 &
  echo $! > "$pidfile"
  for i in $(seq 150); do
    answers && exit 0
    kill -0 "$(cat "$pidfile")" 2>/dev/null || break
    sleep 0.1
  done
  echo "jackd did not start as '$name':" >&2
  cat "$log" >&2
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
