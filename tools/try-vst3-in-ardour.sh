#!/bin/sh
# Plays a test signal through the VST3 plug-in in a headless Ardour 7 session
# (Debian's `ardour`, `tools/install-deps.sh ardour`), exports the track with
# the plug-in switched off and on, and holds the second export against
# `tolvane render` of the first, sample for sample.
#   tools/try-vst3-in-ardour.sh [BUILD_FOLDER] [PROGRAM]
# Ardour keeps its configuration, scan cache and sessions in a folder of this
# run's own, so the user's are left alone (tools/ardour-headless.sh).
#
# Before an export Ardour runs its plug-ins for 2 s on silence (its export
# pre-roll), and the engine's smoothed settings settle meanwhile: the signal
# starts 2 s into the session, so the exported input carries the same 2 s of
# silence and a fresh `tolvane render` of it hears what the plug-in heard.
set -eu
build=$(cd "${1:-build}" && pwd)
program=${2:-0}
name=$("$build/tolvane" info | sed -n "s/^  $program  //p" | head -n 1)
. "$(dirname "$0")/ardour-headless.sh"
export VST3_PATH="$build"

# The signal, from the transport's position while it rolls (silence otherwise,
# as a region would play): bursts at three levels, every sample an exact float.
cat >"$XDG_CONFIG_HOME/ardour7/scripts/tolvane_test_signal.lua" <<'LUA'
ardour { ["type"] = "dsp", name = "Tolvane Test Signal", category = "Utility", license = "MIT",
         description = "A signal that plays from 2 s to 4 s of the session at 48 kHz" }
function dsp_ioconfig () return { { audio_in = 2, audio_out = 2 } } end
local levels = { 15 / 16, 1 / 16, 1 / 4 }
function dsp_run (ins, outs, n_samples)
  local rolling, at = Session:transport_rolling (), Session:transport_sample ()
  for c = 1, 2 do
    local out = outs[c]:array ()
    for i = 1, n_samples do
      local n = at + i - 1 - 96000
      if rolling and n >= 0 and n < 96000 then
        local v = ((n * 40503 + c * 7919) % 65536 - 32768) / 32768
        out[i] = v * levels[(n // 2205) % 3 + 1] * (c == 2 and 0.75 or 1)
      else
        out[i] = 0
      end
    end
  end
end
LUA

cat >"$work/session.lua" <<LUA
AudioEngine:set_backend ("None (Dummy)", "", "")
local s = create_session ("$work/session", "tolvane", 48000)
assert (s, "no session")
local track = s:new_audio_track (2, 2, nil, 1, "Signal", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front ()
track:add_processor_by_index (ARDOUR.LuaAPI.new_luaproc (s, "Tolvane Test Signal"), 0, nil, true)
local tolvane = ARDOUR.LuaAPI.new_plugin (s, "Tolvane", ARDOUR.PluginType.VST3, "")
assert (not tolvane:isnil (), "Ardour does not know the VST3 plug-in")
track:add_processor_by_index (tolvane, 1, nil, true)
if $program > 0 then
  -- The program as a user picks it: from the plug-in's presets, by name.
  local plugin = tolvane:to_insert ():plugin (0)
  local preset = plugin:preset_by_label ("$name")
  assert (preset and plugin:load_preset (preset), "no preset $name")
end
local name = os.getenv ("EXPORT")
if name == "input" then tolvane:deactivate () end
$(export_lua name 192000)
LUA

LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst3-scanner -q "$build/Tolvane.vst3"
# Each export in a session of its own.
for export in input output; do
  EXPORT=$export
  export EXPORT
  export_with_retries $export "$work/session"
done
"$build/tolvane" render "$work/input.wav" "$work/reference.wav" --program "$program"
data "$work/output.wav" >"$work/output.raw"
data "$work/reference.wav" >"$work/reference.raw"
if cmp -s "$work/output.raw" "$work/reference.raw" && [ -s "$work/output.raw" ]; then
  echo "program $program: Ardour's export equals tolvane render, $(($(wc -c <"$work/output.raw") / 8)) frames"
else
  echo "program $program: Ardour's export differs from tolvane render" >&2
  cmp "$work/output.raw" "$work/reference.raw" | head -n 3 >&2 || true
  exit 1
fi
