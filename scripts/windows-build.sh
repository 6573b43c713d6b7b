#!/usr/bin/env bash
# windows-build.sh: cross-builds the 32-bit Windows target into one folder.
#
#   scripts/windows-build.sh [BUILD_DIR]     (default: build-win)
#
# Installs what it needs from Debian (MinGW-w64, Wine), takes the engine's
# sources from Debian's source package lua5.1 once per build folder, then
# configures and builds.  test-windows.sh and windows-release.sh start here.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-win}
tarball=lua5.1_5.1.5.orig.tar.gz
sudo=()
((EUID == 0)) || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

step() { printf '== windows: %s (%ds)\n' "$1" "$SECONDS"; }


# Wine runs 32-bit programs from the i386 half of the archive; the signing
# tools sign a glued program in the tests.
step "toolchain and Wine"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
scripts/setup.sh g++-mingw-w64-i686-win32 wine wine32:i386 osslsigncode openssl


# The engine's original tarball, from the source package.  Source lists are
# switched on only for this one download so that the machine's apt state is
# left as it was found.
fetch_engine() {
  local dir=$build/engine list=/etc/apt/sources.list.d/zz-src.sources
  [[ -f $dir/$tarball ]] && return
  mkdir -p "$dir"
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
    | "${sudo[@]}" tee "$list" >/dev/null
  local ok=0
  "${sudo[@]}" apt-get update -qq &&
    (cd "$dir" && apt-get source --download-only -qq lua5.1) && ok=1
  "${sudo[@]}" rm -f "$list"
  "${sudo[@]}" apt-get update -qq
  ((ok)) || { echo "windows: cannot download the lua5.1 source package" >&2; exit 1; }
  find "$dir" -maxdepth 1 -type f ! -name "$tarball" -delete
}

step "engine sources"
fetch_engine


step "configure and build"
cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DOVREL_LUA51_TARBALL="$PWD/$build/engine/$tarball" >/dev/null
cmake --build "$build" -j2
step "built"
