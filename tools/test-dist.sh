#!/usr/bin/env bash
# Checks what `make dist` left in dist/ (run by `make test-dist`, after it):
#   1. the tests against the release binaries, and the release DLLs' output held
#      against the release Linux plug-in under Wine;
#   2. the checksums, and the Linux and Windows archives' contents: the C++ runtime
#      inside, only the entry points exported, stripped with a debug link, the
#      promised glibc;
#   3. the Debian package installed with dpkg -i: its files, `tolvane` from PATH
#      rendering through the installed plug-in exactly as the developer build does,
#      Ardour's plug-in scanner (with TOLVANE_ARDOUR=1), lintian, and removal;
#   and with TOLVANE_BULLSEYE=1, the Linux archive run on Debian 11 in a chroot.
# The package part needs root (or sudo) and leaves the system as it found it.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
release=$repo/build-release
dist=$repo/dist
build=${BUILD:-build}
[[ -x "$build/tolvane" ]] || build=build-release  # the developer build, when there is one
version=$(sed -n 's/^project(Tolvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
glibc=$(sed -n 's/^set(TOLVANE_GLIBC_CEILING \([0-9.]*\))/\1/p' cmake/dist.cmake)
linux=Tolvane-$version-linux-x86_64
windows=Tolvane-$version-windows
deb=tolvane_${version}_amd64.deb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passes=0
failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, counts and reports a failure
  local what=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then
    echo "ok    $what"
    passes=$((passes + 1))
  else
    echo "FAIL  $what"
    sed 's/^/      /' "$work/check.log"
    failures=$((failures + 1))
  fi
}
if [[ $(id -u) -eq 0 ]]; then sudo=(); else sudo=(sudo); fi
# The same samples: WAV files compared from their data chunk on (the PEAK chunk before it holds the time).
same_audio() {
  local at
  at=$(grep -obUa data "$1" | head -n 1 | cut -d: -f1)
  [[ -n "$at" && "$at" == $(grep -obUa data "$2" | head -n 1 | cut -d: -f1) ]] && cmp -i "$at" "$1" "$2"
}
export -f same_audio

echo "== The tests against the release binaries"
(cd "$release" && ctest -j "$(nproc)" --output-on-failure -R '^(plugin|tools|engine|x11|clap)\.')
for bits in 32 64; do
  (
    cd "$repo/build-release-win$bits"
    export WINEPREFIX=$PWD/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=:97
    sh "$repo/cmake/wine-session.sh" start
    trap 'sh "$repo/cmake/wine-session.sh" stop' EXIT
    echo "$bits-bit DLL against the Linux plug-in:"
    sh "$repo/cmake/parity.sh" "$release" 0
  )
done

echo "== The archives"
check "every artefact has its SHA-256 and matches it" \
  bash -c "cd '$dist' && ls *.tar.gz *.zip *.deb | while read -r f; do [[ -f \$f.sha256 ]] || exit 1; done && sha256sum -c *.sha256"
tar -xzf "$dist/$linux.tar.gz" -C "$work"
tar -xzf "$dist/$linux-debug.tar.gz" -C "$work"
unzip -q "$dist/$windows.zip" -d "$work"
unzip -q "$dist/$windows-debug.zip" -d "$work"
l=$work/$linux
w=$work/$windows
check "Linux archive: Tolvane.so, TolvaneSC.so, Tolvane.clap, tolvane, README.md, LICENSE" \
  test -f "$l/Tolvane.so" -a -f "$l/TolvaneSC.so" -a -f "$l/Tolvane.clap" -a -x "$l/tolvane" -a -f "$l/README.md" -a -f "$l/LICENSE"
check "Windows archive: both DLLs of each plug-in, README.txt with CRLF lines, the licences" bash -c "
  file '$w/32-bit/Tolvane.dll' | grep -q 'PE32 executable (DLL).*Intel 80386' &&
  file '$w/64-bit/Tolvane.dll' | grep -q 'PE32+ executable (DLL).*x86-64' &&
  file '$w/32-bit/TolvaneSC.dll' | grep -q 'PE32 executable (DLL).*Intel 80386' &&
  file '$w/64-bit/TolvaneSC.dll' | grep -q 'PE32+ executable (DLL).*x86-64' &&
  file '$w/32-bit/Tolvane.clap' | grep -q 'PE32 executable (DLL).*Intel 80386' &&
  file '$w/64-bit/Tolvane.clap' | grep -q 'PE32+ executable (DLL).*x86-64' &&
  file '$w/README.txt' | grep -q CRLF && ! grep -q '\`\`\`' '$w/README.txt' &&
  test -f '$w/LICENSE.txt' -a -f '$w/THIRD-PARTY.txt' -a -f '$w/LICENSE-libpng.txt'"
highest_glibc() { objdump -T "$@" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1; }
at_most() { [[ $(printf '%s\n' "$1" "$2" | sort -V | tail -n 1) == "$2" ]]; }
# Every binary of the archive: the plug-in, the command, and the LV2 bundle's libraries where present.
for binary in $(cd "$l" && find . -type f \( -name '*.so' -o -name '*.clap' -o -name tolvane \) | sed 's|^\./||' | sort); do
  # The command's own C++ runtime is inside too; it links the system's JACK
  # library, which brings the system's C++ runtime for itself, so ldd (which
  # lists libraries' libraries) holds only the plug-ins.
  if [[ $binary == *.so || $binary == *.clap ]]; then
    check "$binary needs no C++ runtime (objdump -p, ldd)" bash -c "
      ! objdump -p '$l/$binary' | grep -E 'NEEDED.*(libstdc\+\+)' && ! ldd '$l/$binary' | grep -q libstdc++"
  else
    check "$binary needs no C++ runtime of its own (objdump -p)" bash -c "
      ! objdump -p '$l/$binary' | grep -E 'NEEDED.*(libstdc\+\+)'"
  fi
  check "$binary needs glibc $glibc at most, the version make dist printed" \
    at_most "$(highest_glibc "$l/$binary")" "$glibc"
  check "$binary is stripped, its debug file in the debug archive" bash -c "
    file '$l/$binary' | grep -q ', stripped' &&
    readelf --string-dump=.gnu_debuglink '$l/$binary' | grep -q '$(basename "$binary").debug' &&
    file '$l/$binary.debug' | grep -q 'with debug_info'"
done
check "the plug-in and the command need glibc $glibc exactly, the version the README states" \
  test "$(highest_glibc "$l/Tolvane.so" "$l/tolvane")" = "$glibc"
check "Tolvane.so exports only VSTPluginMain and main" bash -c "
  [[ \$(objdump -T '$l/Tolvane.so' | awk '\$4 == \".text\" {print \$NF}' | sort | tr '\n' ' ') == 'VSTPluginMain main ' ]]"
check "Tolvane.clap exports only clap_entry" bash -c "
  [[ \$(objdump -T '$l/Tolvane.clap' | awk '\$2 == \"g\" {print \$NF}' | tr '\n' ' ') == 'clap_entry ' ]]"
if [[ -d vst3 ]]; then
  v=Tolvane.vst3/Contents
  check "the VST3 bundle's binary exports only GetPluginFactory, ModuleEntry and ModuleExit" bash -c "
    [[ \$(objdump -T '$l/$v/x86_64-linux/Tolvane.so' | awk '\$4 == \".text\" {print \$NF}' | sort | tr '\n' ' ') ==
       'GetPluginFactory ModuleEntry ModuleExit ' ]]"
  check "Windows archive: the VST3 bundle with both Windows binaries, stripped" bash -c "
    file '$w/$v/x86-win/Tolvane.vst3' | grep -q 'PE32 executable (DLL).*Intel 80386' &&
    file '$w/$v/x86_64-win/Tolvane.vst3' | grep -q 'PE32+ executable (DLL).*x86-64' &&
    objdump -h '$w/$v/x86-win/Tolvane.vst3' | grep -q gnu_debuglink && test -s '$w/$v/x86_64-win/Tolvane.vst3.debug'"
fi
for bits in 32 64; do
  check "$bits-bit DLL: stripped, its debug file in the debug archive" bash -c "
    ! objdump -t '$w/$bits-bit/Tolvane.dll' 2>/dev/null | grep -q ' VSTPluginMain\$' &&
    objdump -h '$w/$bits-bit/Tolvane.dll' | grep -q gnu_debuglink && test -s '$w/$bits-bit/Tolvane.dll.debug'"
done

# TOLVANE_BULLSEYE=1: the archive on Debian 11 (glibc 2.31), in a chroot that debootstrap
# makes once in $TMPDIR/tolvane-bullseye (about 80 MB from Debian's archive).
root=${TMPDIR:-/tmp}/tolvane-bullseye
trap 'if mountpoint -q "$root/proc" 2>/dev/null; then "${sudo[@]}" umount "$root/proc"; fi; rm -rf "$work"' EXIT
if [[ "${TOLVANE_BULLSEYE:-0}" == 1 ]]; then
  if [[ ! -x "$root/usr/bin/env" ]]; then
    command -v debootstrap >/dev/null || "${sudo[@]}" apt-get install -y -q --no-install-recommends debootstrap
    "${sudo[@]}" debootstrap --variant=minbase --include=libx11-6,libpng16-16,libsndfile1 bullseye "$root" >/dev/null
  fi
  "${sudo[@]}" rm -rf "$root/opt/tolvane" "$root/tmp/demo"
  "${sudo[@]}" cp -r "$l" "$root/opt/tolvane"
  "${sudo[@]}" mount -t proc proc "$root/proc"
  "${sudo[@]}" chroot "$root" env XDG_CONFIG_HOME=/tmp/config /opt/tolvane/tolvane demo /tmp/demo >"$work/bullseye.log" 2>&1 &&
    bullseye_status=0 || bullseye_status=$?
  "${sudo[@]}" umount "$root/proc"
  XDG_CONFIG_HOME="$work/config" "$repo/$build/tolvane" --plugin "$repo/$build/Tolvane.so" demo "$work/here" >/dev/null
  check "Debian 11 (glibc 2.31) runs the archive's tolvane and plug-in, every program as $build does" bash -c "
    cat '$work/bullseye.log' && [[ $bullseye_status -eq 0 ]] && [[ \$(ls '$work'/here/*.wav | wc -l) -eq 6 ]] &&
    for f in '$work'/here/*.wav; do same_audio \"\$f\" '$root/tmp/demo/'\"\${f##*/}\" || exit 1; done"
fi

echo "== The Debian package"
if dpkg-query -W tolvane >/dev/null 2>&1; then
  echo "tolvane is installed already; remove it first (dpkg -r tolvane)" >&2
  exit 1
fi
lintian --fail-on error "$dist/$deb" >"$work/lintian.log" 2>&1 &&
  lintian_status=0 || lintian_status=$?
check "lintian reports no errors" test "$lintian_status" -eq 0
sed 's/^/      /' "$work/lintian.log"
"${sudo[@]}" dpkg -i "$dist/$deb"
dpkg-query -L tolvane >"$work/files.txt"
installed=(/usr/lib/vst/Tolvane.so /usr/bin/tolvane /usr/share/man/man1/tolvane.1.gz /usr/share/doc/tolvane/copyright
  /usr/share/doc/tolvane/examples/tolvane-microphone.conf)
[[ -d lv2 ]] && installed+=(/usr/lib/lv2/Tolvane.lv2/manifest.ttl)
[[ -d clap ]] && installed+=(/usr/lib/clap/Tolvane.clap)
[[ -d vst3 ]] && installed+=(/usr/lib/vst3/Tolvane.vst3/Contents/x86_64-linux/Tolvane.so)
for f in "${installed[@]}"; do
  check "installed: $f" test -f "$f"
done
check "tolvane from PATH is the installed one, its version $version" bash -c "
  [[ \$(command -v tolvane) == /usr/bin/tolvane ]] && tolvane --version | grep -qx 'tolvane (Tolvane) $version'"
check "tolvane info from PATH loads the installed plug-in" bash -c "
  cd '$work' && tolvane info | grep -q 'Tolvane by Quenmark, Inc.'"
check "the manual page tolvane(1) is found" bash -c "! command -v man >/dev/null || man -w tolvane | grep -q tolvane.1"
check "the installed command and plug-in render every program as $build does" bash -c "
  cd '$work' && XDG_CONFIG_HOME='$work/config' tolvane demo installed >/dev/null &&
  XDG_CONFIG_HOME='$work/config' '$repo/$build/tolvane' --plugin '$repo/$build/Tolvane.so' demo built >/dev/null &&
  [[ \$(ls built/*.wav | wc -l) -eq 6 ]] &&
  for f in built/*.wav; do same_audio \"\$f\" \"installed/\${f#built/}\" || exit 1; done &&
  tolvane render built/drum-loop.wav installed.wav --program 'NY Compression' --set Ratio=0.6 &&
  '$repo/$build/tolvane' --plugin '$repo/$build/Tolvane.so' render built/drum-loop.wav built.wav \\
    --program 'NY Compression' --set Ratio=0.6 && same_audio built.wav installed.wav"
if [[ "${TOLVANE_ARDOUR:-0}" == 1 ]]; then
  check "Ardour's scanner finds the plug-in where Ardour looks" bash -c "
    export LD_LIBRARY_PATH=/usr/lib/ardour7 HOME='$work/home'
    strings /usr/lib/ardour7/libardour.so.3 | grep -E '^/usr.*lxvst.*:' | tr ':' '\n' | grep -qx /usr/lib/vst &&
    /usr/lib/ardour7/ardour-vst-scanner -f /usr/lib/vst/Tolvane.so &&
    grep -rl 'Tolvane' '$work/home/.cache/ardour7/vst' | grep -q ."
  [[ -d vst3 ]] && check "Ardour's VST3 scanner indexes the bundle in /usr/lib/vst3" bash -c "
    export LD_LIBRARY_PATH=/usr/lib/ardour7 HOME='$work/home'
    /usr/lib/ardour7/ardour-vst3-scanner -f /usr/lib/vst3/Tolvane.vst3 &&
    grep -l 'Quenmark' '$work'/home/.cache/ardour7/vst/*.v3i | grep -q ."
else
  echo "skip  Ardour's scanner (TOLVANE_ARDOUR=1 runs it; tools/install-deps.sh ardour installs it)"
fi
"${sudo[@]}" dpkg --purge tolvane
check "removed: none of the package's files is left" bash -c "
  while read -r f; do [[ -d \$f ]] || [[ ! -e \$f ]] || { echo \"left: \$f\"; exit 1; }; done <'$work/files.txt'
  [[ ! -e /usr/lib/vst ]] || dpkg-query -S /usr/lib/vst >/dev/null 2>&1 || [[ -n \$(ls -A /usr/lib/vst) ]]
  [[ ! -e /usr/share/doc/tolvane ]]"

echo "release: $passes passed, $failures failed"
[[ $failures -eq 0 ]]
