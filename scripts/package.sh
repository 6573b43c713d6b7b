#!/usr/bin/env bash
# package.sh: the Debian package of the project, out/ovrel_VERSION_ARCH.deb.
#
# The install step of a build configured for the system's folders
# (/usr/bin, /usr/lib/<multiarch>, the module in Debian's Lua folder
# /usr/lib/<multiarch>/lua/5.1), packed by CPack.  Its dependencies are
# read from the binaries (liblua5.1-0 among them); the version is the
# project's.  OVREL_DEB_BUILD names the build folder (default build-deb).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

scripts/setup.sh dpkg-dev file
build=${OVREL_DEB_BUILD:-build-deb}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

cmake --preset package -B "$build" -DOVREL_LUA_MODULE_DIR="lib/$multiarch/lua/5.1" >/dev/null
cmake --build "$build" -j2 >/dev/null
pack "$build"
mkdir -p out
rm -f out/*.deb
cp "$build"/packages/*.deb out/
ls out/*.deb
