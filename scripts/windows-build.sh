#!/usr/bin/env bash
# windows-build.sh: cross-builds the Windows targets, each into its folder.
#
#   scripts/windows-build.sh [ARCH...]   (default: i686 x86_64)
#
# i686 (32-bit, the reference target) builds into build-win, x86_64 into
# build-win64 (common.sh: win_build).  Installs what both need from Debian
# (MinGW-w64, Wine), takes the engine's sources from Debian's source package
# lua5.1 once, then configures and builds.  test-windows.sh and
# windows-release.sh start here.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

arches=("$@")
((${#arches[@]})) || arches=(i686 x86_64)
for arch in "${arches[@]}"; do
  [[ -f cmake/toolchain-mingw-$arch.cmake ]] || { echo "windows: no target $arch (i686, x86_64)" >&2; exit 2; }
done
tarball=lua5.1_5.1.5.orig.tar.gz
export DEBIAN_FRONTEND=noninteractive

step() { printf '== windows: %s (%ds)\n' "$1" "$SECONDS"; }


# Wine runs 32-bit programs from the i386 half of the archive, 64-bit ones
# with wine64; the signing tools sign a glued program in the tests; patch
# applies ours to the engine's and GoogleTest's sources.
step "toolchain and Wine"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
fi
winepkgs=(g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine wine32:i386 wine64
          osslsigncode openssl patch)
# The machine's source list without the security suite.
sources_without_security() {
  archive_sources "$1" "$(debian_codename) $(debian_codename)-updates"
}
# A mirror whose i386 index of the security suite is stale offers the amd64
# half of a library in a version the i386 half lacks, and wine32 cannot be
# installed.  Then the install is tried once more without that suite, for
# this one command, with its suites pinned so that an amd64 library taken
# from the security suite may step back to the version both halves share.
without_security() {
  local dir
  dir=$(mktemp -d)
  sources_without_security deb > "$dir/debian.sources"
  printf 'Package: *\nPin: release o=Debian\nPin-Priority: 1001\n' > "$dir/pin.pref"
  local opts=(-o Dir::Etc::SourceParts="$dir" -o Dir::Etc::SourceList=/dev/null
              -o Dir::Etc::PreferencesParts="$dir" -o Dir::Etc::Preferences=/dev/null)
  as_root apt-get "${opts[@]}" update -qq &&
    as_root apt-get "${opts[@]}" install -y -qq --allow-downgrades --no-install-recommends \
      "${winepkgs[@]}" >/dev/null
  local rc=$?
  rm -rf "$dir"
  as_root apt-get update -qq || true
  return $rc
}
if ! scripts/setup.sh "${winepkgs[@]}"; then
  echo "windows: the install failed; trying again without the security suite" >&2
  without_security
fi


# The engine's original tarball, from the source package, once for both
# targets, where their presets look for it.  The source list and its index live in a temporary folder of
# their own for this one download, so the machine's apt state is left as it
# was found.
engine=build-engine
fetch_engine() {
  local dir=$engine
  [[ -f $dir/$tarball ]] && return
  mkdir -p "$dir"
  local apt
  apt=$(mktemp -d)
  sources_without_security deb-src > "$apt/src.sources"
  apt_aside "$apt"
  local ok=0
  as_root apt-get "${apt_opts[@]}" update -qq &&
    (cd "$dir" && apt-get "${apt_opts[@]}" source --download-only -qq lua5.1) && ok=1
  as_root rm -rf "$apt"
  ((ok)) || { echo "windows: cannot download the lua5.1 source package" >&2; exit 1; }
  find "$dir" -maxdepth 1 -type f ! -name "$tarball" -delete
}

step "engine sources"
fetch_engine


for arch in "${arches[@]}"; do
  build=$(win_build "$arch")
  step "configure and build $arch in $build"
  cmake --preset "windows-$arch" -B "$build" >/dev/null
  cmake --build "$build" -j2
done
step "built"
