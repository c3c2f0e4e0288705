-- Plays noise through Tolvane inside a headless Ardour 7 session and prints
-- the track's peak level with the effect bypassed by Active and engaged.
--   LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst-scanner -f "$PWD/build/Tolvane.so"
--   LXVST_PATH="$PWD/build" ardour7-lua tools/try-in-ardour.lua
-- (absolute paths: Ardour files its scan under the path it was given)
AudioEngine:set_backend("None (Dummy)", "", "")
local folder = "/tmp/tolvane-ardour-" .. tostring(os.time())
local s = create_session(folder, "tolvane", 48000)
assert(s, "could not create a session in " .. folder)
local track = s:new_audio_track(2, 2, nil, 1, "Drums", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front()
local noise = ARDOUR.LuaAPI.new_luaproc(s, "ACE Noise")
track:add_processor_by_index(noise, 0, nil, true)
local tolvane = ARDOUR.LuaAPI.new_plugin(s, "Tolvane", ARDOUR.PluginType.LXVST, "")
assert(not tolvane:isnil(), "Ardour does not know Tolvane: run its VST scanner on build/Tolvane.so first")
track:add_processor_by_index(tolvane, 1, nil, true)

local function peak()
  for i = 1, 20 do ARDOUR.LuaAPI.wait_for_process_callback(1, 1) end
  ARDOUR.LuaAPI.usleep(300000)
  return track:peak_meter():meter_level(0, ARDOUR.MeterType.MeterPeak)
end
for i = 0, 5 do print(string.format("parameter %d = %.6f", i, ARDOUR.LuaAPI.get_processor_param(tolvane, i, true))) end
ARDOUR.LuaAPI.set_processor_param(tolvane, 5, 0.0)
print(string.format("peak, Active 0 (dry):            %.2f dBFS", peak()))
ARDOUR.LuaAPI.set_processor_param(tolvane, 5, 1.0)
print(string.format("peak, Drum Buss Squisher:        %.2f dBFS", peak()))
ARDOUR.LuaAPI.set_processor_param(tolvane, 4, 0.0)
print(string.format("peak, the same without make-up: %.2f dBFS", peak()))
close_session()
