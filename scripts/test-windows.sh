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

step() { printf '== windows: %s (%ds)\n' "$1" "$SECONDS"; }

scripts/windows-build.sh i686 x86_64
step "release folders"
scripts/windows-release.sh

# run_tests ARCH TIMEOUT: ARCH's suite and its release folder under Wine.
run_tests() {
  wine_start "$1"
  trap wine_stop EXIT
  ctest --test-dir "$(win_build "$1")" --output-on-failure -j2 --timeout "$2"
  scripts/windows-release.sh --run "$1"
}

step "x86_64 under wine64"
(run_tests x86_64 300)

step "how 32-bit programs run here"
win32_route
if [[ $WIN32_ROUTE == skip ]]; then
  skipped "the 32-bit Windows tests and the i686 release check under Wine: $WIN32_WHY"
else
  # Emulation makes each program about three times slower.
  limit=300
  [[ $WIN32_ROUTE == emulated ]] && limit=900
  step "i686 under Wine ($WIN32_ROUTE)"
  export -f run_tests
  on_win32_route "$BASH" -c "source scripts/common.sh; run_tests i686 $limit"
fi
step "done"
