#!/usr/bin/env bash
# test-windows.sh: cross-builds both Windows targets and runs their tests
# under Wine: x86_64 under wine64, then i686, the reference target, on the
# route this machine gives 32-bit programs (win32-route.sh): natively, under
# user-mode emulation, or not at all, with a SKIPPED line saying why.  Each
# target's release folder is checked as shipped.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/win32-route.sh

# Steps are timed from the stage's start, in the runs it starts too.
export OVREL_WIN_START=${OVREL_WIN_START:-$(date +%s)}
step() { printf '== windows: %s (%ds)\n' "$1" $(($(date +%s) - OVREL_WIN_START)); }

# --run ARCH: ARCH's suite and its release folder under Wine, on the route
# on_each_target chose; emulation makes each program about three times
# slower.
if [[ ${1-} == --run ]]; then
  route=wine64
  [[ $2 == i686 ]] && route=$WIN32_ROUTE
  step "$2 under Wine ($route)"
  limit=300
  [[ $route == emulated ]] && limit=900
  wine_start "$2"
  trap wine_stop EXIT
  ctest --test-dir "$(win_build "$2")" --output-on-failure -j2 --timeout "$limit"
  scripts/windows-release.sh --run "$2"
  exit
fi

scripts/windows-build.sh i686 x86_64
step "release folders"
scripts/windows-release.sh
on_each_target "the 32-bit Windows tests and the i686 release check" scripts/test-windows.sh --run
step "done"
