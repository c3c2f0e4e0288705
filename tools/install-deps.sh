#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, by name, and
# only those that are missing. Safe to run again and again.
set -euo pipefail

# `install-deps.sh windows` adds the cross compilers and Wine for the Windows builds.
packages=(
  build-essential cmake pkg-config
  libgtest-dev libbenchmark-dev googletest
  libsndfile1-dev libpng-dev zlib1g-dev
  libx11-dev libxtst-dev xvfb x11-utils
  lv2-dev liblilv-dev lilv-utils sordi
  libjack-jackd2-dev jackd2
  # Others' programs the tests run the LV2 plug-in in.
  ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  pipewire pipewire-bin
)
# `install-deps.sh artwork` adds what draws the editor's images.
if [[ "${1:-}" == artwork ]]; then
  packages+=(python3-cairo fonts-dejavu-core)
fi
# `install-deps.sh fuzz` adds clang and its libFuzzer runtime.
if [[ "${1:-}" == fuzz ]]; then
  packages+=(clang libclang-rt-14-dev)
fi
# `install-deps.sh dist` adds what `make dist` needs beyond the Windows builds:
# help2man for the manual page, dpkg-dev for the package's dependencies (dpkg-shlibdeps),
# lintian, file and binutils for its checks.
if [[ "${1:-}" == dist ]]; then
  packages+=(help2man lintian dpkg-dev file binutils)
fi
# `install-deps.sh format` adds clang-format, which `make format-check` runs.
if [[ "${1:-}" == format ]]; then
  packages+=(clang-format)
fi
# `install-deps.sh ardour` adds Ardour, whose plug-in scanner `make test-dist` then runs.
if [[ "${1:-}" == ardour ]]; then
  packages+=(ardour)
fi
if [[ "${1:-}" == windows || "${1:-}" == dist ]]; then
  packages+=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine32:i386 wine64
    libz-mingw-w64-dev dpkg-dev
  )
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null | head -n 1 || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if [[ $(id -u) -eq 0 ]]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  sudo=(false)
fi
export DEBIAN_FRONTEND=noninteractive

if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  if [[ "${sudo[*]}" == false ]]; then
    echo "These packages are missing and this user cannot install them: ${missing[*]}" >&2
    exit 1
  fi
  # Wine's 32-bit half comes from the i386 architecture.
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The Windows DLLs link libpng in statically. Debian has no mingw-w64 build of
# it, so its source package (with Debian's patches) is unpacked into
# build-deps/libpng and compiled with the DLLs. Where apt has no deb-src entry,
# the source comes through a list of its own in build-deps/apt, which leaves
# the system's apt configuration as it was.
if [[ "${1:-}" == windows || "${1:-}" == dist ]]; then
  repo=$(cd "$(dirname "$0")/.." && pwd)
  # Earlier versions of this script added the entry to the system's own list.
  if [[ -f /etc/apt/sources.list.d/tolvane-deb-src.sources && "${sudo[*]}" != false ]]; then
    "${sudo[@]}" rm -f /etc/apt/sources.list.d/tolvane-deb-src.sources
  fi
  if [[ ! -f "$repo/build-deps/libpng/png.c" ]]; then
    source_apt=()
    if ! apt-get source --print-uris -q libpng1.6 >/dev/null 2>&1; then
      apt="$repo/build-deps/apt"
      mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial"
      printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: bookworm bookworm-updates" \
        "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" >"$apt/sources/debian-src.sources"
      source_apt=(-o "Dir::Etc::SourceList=$apt/none.list" -o "Dir::Etc::SourceParts=$apt/sources"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
      echo "Reading Debian's source packages (deb-src) through $apt"
      apt-get "${source_apt[@]}" update -q
    fi
    rm -rf "$repo/build-deps/libpng" "$repo/build-deps/unpack"
    mkdir -p "$repo/build-deps/unpack"
    (cd "$repo/build-deps/unpack" && apt-get "${source_apt[@]}" source -q libpng1.6)
    mv "$repo"/build-deps/unpack/libpng1.6-*/ "$repo/build-deps/libpng"
    rm -rf "$repo/build-deps/unpack"
  fi
fi
