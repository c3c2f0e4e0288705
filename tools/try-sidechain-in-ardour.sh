#!/bin/sh
# Ducks one track by another in a headless Ardour 7 session (Debian's `ardour`,
# `tools/install-deps.sh ardour`), through Tolvane SC as VST 2.4 and as LV2:
# track "Music" plays a steady signal into the plug-in, track "Voice" plays
# key bursts and sends them, pre-fader, to the plug-in's side-chain input.
# Each form's export is held against `tolvane render --key` of the same input
# and key, sample for sample, and its levels are checked: ducked while the key
# is loud, not while it is silent. The session is then saved, loaded again by
# a second Ardour and exported once more: the same samples again.
#   tools/try-sidechain-in-ardour.sh [BUILD_FOLDER]
# Ardour keeps its configuration, scan cache and sessions in a folder of this
# run's own, so the user's are left alone (tools/ardour-headless.sh).
#
# What Ardour 7.3 needs, as a user does it in the plug-in's pin connections:
# - VST 2.4 has no notion of a side-chain: Ardour shows inputs 3-4 as plain
#   "Audio In 3/4" and leaves them unconnected. "Add sidechain input" gives one
#   port; a second port for a stereo key, then both wired to pins 3 and 4 by
#   hand (with one port wired to pin 3 alone, it feeds both sides of the key).
# - LV2: Ardour reads the isSideChain ports. "Add sidechain input" makes two
#   ports and wires them to Key Left and Key Right by itself (or at once, with
#   Preferences > Plugins > "Setup Sidechain ports when loading plugin").
# - Then the key's source: a send from the voice track into those ports.
# The voice track's own output is disconnected here, so that the export (the
# master bus) holds the ducked music alone.
#
# Before an export Ardour runs its plug-ins for 2 s on silence (its export
# pre-roll): the signals start 2 s into the session, so a fresh `tolvane
# render` of the exported input hears what the plug-in heard.
set -eu
build=$(cd "${1:-build}" && pwd)
. "$(dirname "$0")/ardour-headless.sh"
export LXVST_PATH="$build" LV2_PATH="$build/bundles"

# The two signals, from the transport's position while it rolls (silence
# otherwise, as a region would play), 2 s to 5 s, every sample an exact float.
# The music: steady noise. The key: six half-second parts, silent, left loud,
# silent, right loud, silent, both loud (a key read from one side alone fails
# in the fourth).
cat >"$XDG_CONFIG_HOME/ardour7/scripts/tolvane_sidechain_signals.lua" <<'LUA'
ardour { ["type"] = "dsp", name = "Tolvane Music", category = "Utility", license = "MIT",
         description = "Steady noise from 2 s to 5 s of the session at 48 kHz" }
function dsp_ioconfig () return { { audio_in = 2, audio_out = 2 } } end
function dsp_run (ins, outs, n_samples)
  local rolling, at = Session:transport_rolling (), Session:transport_sample ()
  for c = 1, 2 do
    local out = outs[c]:array ()
    for i = 1, n_samples do
      local n = at + i - 1 - 96000
      if rolling and n >= 0 and n < 144000 then
        out[i] = ((n * 40503 + c * 7919) % 65536 - 32768) / 32768 / 16 * (c == 2 and 0.75 or 1)
      else
        out[i] = 0
      end
    end
  end
end
LUA
sed -e 's/"Tolvane Music"/"Tolvane Key"/' -e 's/Steady noise/Noise bursts/' \
  -e 's|out\[i\] = ((n \* 40503.*|out[i] = ((n * 25173 + c * 13849) % 65536 - 32768) / 32768 * levels[n // 24000 + 1][c]|' \
  -e 's|^function dsp_run|local levels = { { 0, 0 }, { 1 / 2, 1 / 64 }, { 0, 0 }, { 1 / 64, 1 / 2 }, { 0, 0 }, { 1 / 2, 1 / 2 } }\n&|' \
  "$XDG_CONFIG_HOME/ardour7/scripts/tolvane_sidechain_signals.lua" >"$XDG_CONFIG_HOME/ardour7/scripts/tolvane_sidechain_key.lua"

# MODE: input (the music alone), key (the voice alone), vst or lv2 (a new
# session with the plug-in and its side-chain, saved before the export), or
# reopen-vst / reopen-lv2 (that session loaded again).
cat >"$work/session.lua" <<LUA
AudioEngine:set_backend ("None (Dummy)", "", "")
local mode = os.getenv ("MODE")
local format = mode:gsub ("^reopen%-", "")
local audio = ARDOUR.DataType ("audio")
-- Key: Ardour counts control outputs among an LV2 plug-in's parameters too,
-- and the gain-reduction meter comes before Key.
local key = format == "vst" and 6 or 7
local s
local function track (name, signal)
  local t = s:new_audio_track (2, 2, nil, 1, name, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front ()
  t:add_processor_by_index (ARDOUR.LuaAPI.new_luaproc (s, signal), 0, nil, true)
  return t
end

if mode:match ("^reopen") then
  s = load_session ("$work/" .. format, "tolvane")
  assert (s, "the saved session does not load")
  local music, voice = s:route_by_name ("Music"), s:route_by_name ("Voice")
  local plugin = music:nth_plugin (1)
  assert (not plugin:isnil () and plugin:display_name ():match ("Tolvane SC"), "the plug-in is gone")
  local insert = plugin:to_insert ()
  assert (ARDOUR.LuaAPI.get_processor_param (plugin, key, true) == 1, "Key is no longer External")
  assert (insert:has_sidechain (), "the side-chain input is gone")
  local send = voice:nth_send (0):to_send ():output ()
  local sc = insert:sidechain_input ()
  for i = 0, 1 do
    assert (sc:nth (i):connected_to (send:nth (i):name ()), "side-chain port " .. i .. " lost its send")
    assert (insert:input_map (0):get (audio, 2 + i) == 2 + i, "key pin " .. i .. " lost its port")
  end
elseif mode == "input" or mode == "key" then
  s = create_session ("$work/scratch", "tolvane", 48000)
  track (mode == "input" and "Music" or "Voice", mode == "input" and "Tolvane Music" or "Tolvane Key")
else
  s = create_session ("$work/" .. format, "tolvane", 48000)
  assert (s, "no session")
  local music = track ("Music", "Tolvane Music")
  local voice = track ("Voice", "Tolvane Key")
  local plugin = format == "vst" and ARDOUR.LuaAPI.new_plugin (s, "Tolvane SC", ARDOUR.PluginType.LXVST, "")
                 or ARDOUR.LuaAPI.new_plugin (s, "https://quenmark.com/plugins/tolvane/sidechain", ARDOUR.PluginType.LV2, "")
  assert (not plugin:isnil (), "Ardour does not know Tolvane SC (" .. format .. ")")
  music:add_processor_by_index (plugin, 1, nil, true)
  local insert = plugin:to_insert ()
  -- The pin connections' "Add sidechain input".
  assert (music:add_sidechain (plugin), "no side-chain input")
  local sc = insert:sidechain_input ()
  if format == "vst" then
    -- A second port for the key's right side, and the two wired to pins 3 and 4.
    sc:add_port ("", nil, audio)
    local map = insert:input_map (0)
    map:set (audio, 2, 2)
    map:set (audio, 3, 3)
    insert:set_input_map (0, map)
  end
  assert (sc:n_ports ():n_audio () == 2, "the side-chain input has " .. sc:n_ports ():n_audio () .. " ports")
  for i = 0, 1 do
    assert (insert:input_map (0):get (audio, 2 + i) == 2 + i, "key pin " .. i .. " is not wired")
  end
  assert (ARDOUR.LuaAPI.set_processor_param (plugin, key, 1), "no Key") -- External
  -- The key's source: a pre-fader send from the voice, left to left, right to right.
  local send = ARDOUR.LuaAPI.new_send (s, voice, voice:amp ()):to_send ():output ()
  for i = 0, 1 do send:nth (i):connect (sc:nth (i):name ()) end
  voice:output ():disconnect_all (nil)
  s:save_state ("", false, false, false, false, false)
end

$(export_lua mode 240000)
LUA

LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst-scanner -f "$build/TolvaneSC.so" >/dev/null
# A new session starts afresh; a reopened one is kept.
ardour() {
  MODE=$1
  export MODE
  case $1 in
    reopen-*) export_with_retries "$1" ;;
    input | key) export_with_retries "$1" "$work/scratch" ;;
    *) export_with_retries "$1" "$work/$1" ;;
  esac
}
ardour input
ardour key
"$build/tolvane" render "$work/input.wav" "$work/reference.wav" --key "$work/key.wav"

data "$work/reference.wav" >"$work/reference.raw"
# The level of the output against the input, in dB, over the second half of
# each half-second part of the key: the plug-in's make-up while the key is
# silent, well below it while the key is loud.
data "$work/input.wav" >"$work/input.raw"
levels() {
  od -An -v -f -w8 "$work/input.raw" | paste - "$1" | awk '
    NR > 96000 && (NR - 96001) % 24000 >= 12000 {
      part = int((NR - 96001) / 24000); input[part] += $1 * $1 + $2 * $2; output[part] += $3 * $3 + $4 * $4
    }
    END {
      for (part = 0; part < 6; ++part) {
        gain[part] = 10 * log(output[part] / input[part]) / log(10); printf " %.1f", gain[part]
      }
      # Silent parts within 1 dB of each other, every loud part at least 10 dB below them.
      for (part = 0; part < 6; part += 2) {
        if (gain[part] - gain[0] > 1 || gain[0] - gain[part] > 1) exit 1
        if (gain[0] - gain[part + 1] < 10) exit 1
      }
    }'
}
check() {
  data "$work/$1.wav" >"$work/$1.raw"
  od -An -v -f -w8 "$work/$1.raw" >"$work/$1.txt"
  if ! cmp -s "$work/$1.raw" "$work/reference.raw" || ! [ -s "$work/$1.raw" ]; then
    echo "$1: Ardour's export differs from tolvane render --key" >&2
    cmp "$work/$1.raw" "$work/reference.raw" | head -n 3 >&2 || true
    exit 1
  fi
  if ! gains=$(levels "$work/$1.txt"); then
    echo "$1: not ducked by the key: output against input per part (dB):$gains" >&2
    exit 1
  fi
  echo "$1: Ardour's export equals tolvane render --key, $(($(wc -c <"$work/$1.raw") / 8)) frames; output against input per part (dB):$gains"
}
for format in vst lv2; do
  ardour $format
  check $format
  ardour reopen-$format
  check reopen-$format
done
