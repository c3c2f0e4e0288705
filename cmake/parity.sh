#!/bin/sh
# Renders the demo's drum loop through all five programs with the Linux build
# and with this Windows build (under Wine) and compares them sample for sample:
# Tolvane, and Tolvane SC keyed by the loop a beat later.
# Usage: parity.sh NATIVE_BUILD_DIR MAX_ULPS
set -e
native="$1"
bound="$2"
if [ ! -x "$native/parity_render" ] || [ ! -f "$native/Tolvane.so" ] || [ ! -f "$native/TolvaneSC.so" ]; then
  echo "no Linux build at $native: run 'make' first, or point TOLVANE_NATIVE_BUILD at one" >&2
  exit 1
fi
mkdir -p parity
"$native/parity_render" --make-input parity/drum-loop.raw
"$native/parity_render" "$native/Tolvane.so" parity/drum-loop.raw parity/linux-
"$native/parity_render" "$native/TolvaneSC.so" parity/drum-loop.raw parity/linux-sc-
wine ./parity_render.exe Tolvane.dll parity/drum-loop.raw parity/windows- </dev/null
wine ./parity_render.exe TolvaneSC.dll parity/drum-loop.raw parity/windows-sc- </dev/null
worst=0
for p in 0 1 2 3 4 sc-0 sc-1 sc-2 sc-3 sc-4; do
  line=$("$native/parity_render" --compare "parity/linux-$p.raw" "parity/windows-$p.raw")
  echo "program $p: $line"
  ulps=$(echo "$line" | sed -n 's/.*largest \([0-9]*\) ULP.*/\1/p')
  [ "$ulps" -gt "$worst" ] && worst=$ulps
done
echo "largest difference: $worst ULP (allowed: $bound)"
[ "$worst" -le "$bound" ]
