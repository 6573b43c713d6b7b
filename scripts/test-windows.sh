#!/usr/bin/env bash
# test-windows.sh: cross-builds the 32-bit Windows target and runs its tests
# under Wine.  OVREL_WIN_BUILD names the build folder (default build-win).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

build=${OVREL_WIN_BUILD:-build-win}
scripts/windows-build.sh "$build"

printf '== windows: Wine (%ds)\n' "$SECONDS"
wine_start "$build"
trap wine_stop EXIT

printf '== windows: tests under Wine (%ds)\n' "$SECONDS"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300

printf '== windows: release folder (%ds)\n' "$SECONDS"
scripts/windows-release.sh --check
printf '== windows: done (%ds)\n' "$SECONDS"
