#!/bin/sh
# Renders the demo's drum loop through all five programs with the Linux build
# and with this Windows build (under Wine) and compares them sample for sample,
# unkeyed and keyed by the loop a beat later: the VST 2.4 plug-ins (Tolvane,
# and Tolvane SC for the key), or, given a Windows VST3 binary, that and the
# Linux one.
# Usage: parity.sh NATIVE_BUILD_DIR MAX_ULPS [WINDOWS_VST3_BINARY]
set -e
native="$1"
bound="$2"
vst3="${3:-}"
linux_vst3="$native/Tolvane.vst3/Contents/x86_64-linux/Tolvane.so"
if [ ! -x "$native/parity_render" ] || [ ! -f "$native/TolvaneSC.so" ] ||
  { [ -n "$vst3" ] && [ ! -x "$native/vst3_parity_render" ]; }; then
  echo "no Linux build at $native: run 'make' first, or point TOLVANE_NATIVE_BUILD at one" >&2
  exit 1
fi
mkdir -p parity
# One input for each mode: the two may run at once.
input="parity/drum-loop${vst3:+-vst3}.raw"
"$native/parity_render" --make-input "$input"
if [ -n "$vst3" ]; then
  names="vst3- vst3-sc-"
  "$native/vst3_parity_render" "$linux_vst3" "$input" parity/linux-vst3-
  wine ./vst3_parity_render.exe "$vst3" "$input" parity/windows-vst3- </dev/null
else
  names="vst- vst-sc-"
  "$native/parity_render" "$native/Tolvane.so" "$input" parity/linux-vst-
  "$native/parity_render" "$native/TolvaneSC.so" "$input" parity/linux-vst-sc-
  wine ./parity_render.exe Tolvane.dll "$input" parity/windows-vst- </dev/null
  wine ./parity_render.exe TolvaneSC.dll "$input" parity/windows-vst-sc- </dev/null
fi
worst=0
for name in $names; do
  for p in 0 1 2 3 4; do
    line=$("$native/parity_render" --compare "parity/linux-$name$p.raw" "parity/windows-$name$p.raw")
    echo "$name$p: $line"
    ulps=$(echo "$line" | sed -n 's/.*largest \([0-9]*\) ULP.*/\1/p')
    [ "$ulps" -gt "$worst" ] && worst=$ulps
  done
done
echo "largest difference: $worst ULP (allowed: $bound)"
[ "$worst" -le "$bound" ]
