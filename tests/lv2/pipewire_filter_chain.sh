#!/bin/sh
# PipeWire takes the filter-chain configuration the package ships, installed
# as a user's drop-in, and makes its nodes with the plug-in from the build's
# bundle. A PipeWire of the test's own: no session manager, a runtime folder
# of its own, gone afterwards. Skipped (77) without PipeWire.
#   pipewire_filter_chain.sh CONFIG BUNDLES
set -e
if ! command -v pipewire >/dev/null || ! command -v pw-cli >/dev/null; then
  echo "PipeWire is not installed"
  exit 77
fi
# shellcheck source=cmake/server-session.sh
. "$(dirname "$0")/../../cmake/server-session.sh"
work=$(mktemp -d)
trap 'stop_server "$work/pid"; rm -rf "$work"' EXIT
mkdir -p "$work/run" "$work/config/pipewire.conf.d"
chmod 700 "$work/run"
cp "$1" "$work/config/pipewire.conf.d/"
# The daemon alone, with a driver for the graph.
cat >"$work/config/pipewire.conf" <<'CONF'
context.properties = { core.daemon = true core.name = pipewire-0 }
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert support.* = support/libspa-support }
context.modules = [
  { name = libpipewire-module-protocol-native } { name = libpipewire-module-access }
  { name = libpipewire-module-spa-node-factory } { name = libpipewire-module-client-node }
  { name = libpipewire-module-adapter } { name = libpipewire-module-link-factory }
]
context.objects = [
  { factory = spa-node-factory args = { factory.name = support.node.driver node.name = Dummy-Driver priority.driver = 20000 } }
]
CONF
export XDG_RUNTIME_DIR="$work/run" LV2_PATH="$2"
PIPEWIRE_CONFIG_DIR="$work/config" pipewire >"$work/log" 2>&1 &
echo $! >"$work/pid"
nodes() { timeout 5 pw-cli ls Node 2>/dev/null; }
# shellcheck disable=SC2317  # await_server calls it
answers() { nodes | grep -q 'node.name = "tolvane_microphone"'; }
# Both streams, and no word from the filter chain (a control it cannot set is only a warning).
if await_server "$work/pid" 100 && nodes | grep -q 'node.name = "capture.tolvane_microphone"' &&
  ! grep -q 'mod.filter-chain' "$work/log"; then
  echo "PipeWire made the Tolvane Microphone from $(basename "$1")"
  exit 0
fi
echo "PipeWire made no Tolvane Microphone from $1:"
cat "$work/log"
exit 1
