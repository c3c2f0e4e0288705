#!/bin/sh
# The VST3 binary of this Windows build (under Wine) against the Linux build's,
# sample for sample, on the drum loop through all five programs, unkeyed and
# keyed by the loop a beat later.
# Usage: vst3-parity.sh NATIVE_BUILD_DIR WINDOWS_BINARY MAX_ULPS
set -e
native="$1"
binary="$2"
bound="$3"
linux="$native/Tolvane.vst3/Contents/x86_64-linux/Tolvane.so"
if [ ! -x "$native/vst3_parity_render" ] || [ ! -f "$linux" ]; then
  echo "no Linux build at $native: run 'make' first, or point TOLVANE_NATIVE_BUILD at one" >&2
  exit 1
fi
mkdir -p parity
"$native/parity_render" --make-input parity/vst3-drum-loop.raw
"$native/vst3_parity_render" "$linux" parity/vst3-drum-loop.raw parity/vst3-linux-
wine ./vst3_parity_render.exe "$binary" parity/vst3-drum-loop.raw parity/vst3-windows- </dev/null
worst=0
for p in 0 1 2 3 4 sc-0 sc-1 sc-2 sc-3 sc-4; do
  line=$("$native/parity_render" --compare "parity/vst3-linux-$p.raw" "parity/vst3-windows-$p.raw")
  echo "program $p: $line"
  ulps=$(echo "$line" | sed -n 's/.*largest \([0-9]*\) ULP.*/\1/p')
  [ "$ulps" -gt "$worst" ] && worst=$ulps
done
echo "largest difference: $worst ULP (allowed: $bound)"
[ "$worst" -le "$bound" ]
