#!/bin/sh
# Starts or stops the Wine session the Windows tests run in. Everything Wine
# leaves running is detached from all three standard streams: a background
# process holding ctest's output pipe open would make ctest wait forever.
set -e
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX
case "$1" in
  start)
    mkdir -p "$WINEPREFIX"
    # Persistent, so each test program does not pay for a new server. It answers
    # non-zero when one is running already, which is fine.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i </dev/null >/dev/null 2>&1
    fi
    # The first program on a fresh server brings up Wine's own services.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: wine-session.sh start|stop" >&2
    exit 2
    ;;
esac
