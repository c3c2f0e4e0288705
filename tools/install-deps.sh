#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, by name, and
# only those that are missing. Safe to run again and again.
set -euo pipefail

# `install-deps.sh windows` adds the cross compilers and Wine for the Windows builds.
packages=(
  build-essential cmake pkg-config
  libgtest-dev libbenchmark-dev googletest
  libsndfile1-dev
)
# `install-deps.sh artwork` adds what draws the editor's images.
if [[ "${1:-}" == artwork ]]; then
  packages+=(python3-cairo fonts-dejavu-core)
fi
# `install-deps.sh fuzz` adds clang and its libFuzzer runtime.
if [[ "${1:-}" == fuzz ]]; then
  packages+=(clang libclang-rt-14-dev)
fi
if [[ "${1:-}" == windows ]]; then
  packages+=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine32:i386 wine64
  )
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null | head -n 1 || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "These packages are missing and this user cannot install them: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# Wine's 32-bit half comes from the i386 architecture.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
