# Shared by the scripts that start and stop the tests' own servers
# (xvfb-session.sh, jack-session.sh), which define `answers` and source this.

# Waits up to $2 tenths of a second for the server started with its process id
# in the file $1 to answer; fails early when that process has ended.
await_server() {
  for i in $(seq "$2"); do
    answers && return 0
    kill -0 "$(cat "$1")" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Stops the server whose process id the file $1 holds, and waits until it is
# gone: the next start must not find a server on its way out.
stop_server() {
  if [ -f "$1" ]; then
    pid=$(cat "$1")
    kill "$pid" 2>/dev/null || true
    for i in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
  fi
  rm -f "$1"
}
