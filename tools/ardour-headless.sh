# Shared by the headless Ardour 7 trials (sourced, POSIX sh): a home of this
# run's own, so that Ardour's configuration, scan cache and sessions and the
# user's plug-in folders are left alone; Ardour's float WAV export preset;
# exports retried after a crash; and an exported file's samples.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$XDG_CONFIG_HOME/ardour7/scripts" "$XDG_CONFIG_HOME/ardour7/export"

# Exports as 32-bit float WAV, with the format Ardour ships for it; a session
# script selects it by this id.
float_export=3f1c2a9e-6d1b-4f0e-9a55-2b7c8e4d1f60
cat >"$XDG_CONFIG_HOME/ardour7/export/float.preset" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="$float_export" name="Float WAV">
  <ExportFormat id="20b4ab09-6452-4cb3-bd66-b921cdbd2942"/>
  <ExportFilename>
    <Folder relative="1" path="export"/>
    <Field name="timespan" enabled="1"/>
  </ExportFilename>
</ExportPreset>
XML

# The end of a session script: exports the session's first FRAMES as float WAV
# to $work, named by the Lua expression NAME, and closes the session.
#   $(export_lua NAME FRAMES)
export_lua() {
  cat <<LUA
local e = s:simple_export ()
assert (e:set_preset ("$float_export"), "no float export")
e:set_folder ("$work")
e:set_name ($1)
e:set_range (0, $2)
assert (e:run_export (), "export failed")
close_session ()
LUA
}

# Runs $work/session.lua until it leaves $work/NAME.wav, removing FOLDER (a
# session made afresh) before each try. Ardour 7.3's headless export dies now
# and then, with only its own plug-ins too.
#   export_with_retries NAME [FOLDER]
export_with_retries() {
  for try in 1 2 3 4 5 6; do
    [ -z "${2:-}" ] || rm -rf "$2"
    if ardour7-lua "$work/session.lua" >"$work/ardour.log" 2>&1 && [ -s "$work/$1.wav" ]; then
      return
    fi
    [ $try -lt 6 ] || { cat "$work/ardour.log"; exit 1; }
  done
}

# The sample data from the data chunk on (the files' other chunks differ).
data() { tail -c +$(($(grep -obUa data "$1" | head -n 1 | cut -d: -f1) + 9)) "$1"; }
