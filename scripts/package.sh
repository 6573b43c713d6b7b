#!/usr/bin/env bash
# package.sh: the Debian package of the project, out/ovrel_VERSION_ARCH.deb.
#
# The install step of builds configured for the system's folders
# (/usr/bin, /usr/lib/<multiarch>, each engine's module in Debian's Lua
# folder /usr/lib/<multiarch>/lua/5.x), packed by CPack: the 5.1 build (the
# launcher, the tool, the runtime and the module) carries the installs of
# the 5.2, 5.3 and 5.4 builds (each engine's runtime and module).  Its
# dependencies are read from the binaries (liblua5.1-0 among them); the
# version is the project's.  OVREL_DEB_BUILD names the 5.1 build folder
# (default build-deb); the others are beside it, ending in -5.x.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

engines=(5.2 5.3 5.4)
scripts/setup.sh dpkg-dev file liblua5.2-dev liblua5.3-dev liblua5.4-dev
build=${OVREL_DEB_BUILD:-build-deb}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

others=()
for engine in "${engines[@]}"; do
  cmake --preset package -B "$build-$engine" -DOVREL_LUA="$engine" \
    -DOVREL_LUA_MODULE_DIR="lib/$multiarch/lua/$engine" >/dev/null
  cmake --build "$build-$engine" -j2 >/dev/null
  others+=("$PWD/$build-$engine")
done
cmake --preset package -B "$build" -DOVREL_LUA_MODULE_DIR="lib/$multiarch/lua/5.1" \
  -DOVREL_PACKAGE_ENGINE_BUILDS="$(IFS=';'; echo "${others[*]}")" >/dev/null
cmake --build "$build" -j2 >/dev/null
pack "$build"
mkdir -p out
rm -f out/*.deb
cp "$build"/packages/*.deb out/
ls out/*.deb
