#!/usr/bin/env bash
# test-windows.sh: cross-builds the 32-bit Windows target and runs its tests
# under Wine.  OVREL_WIN_BUILD names the build folder (default build-win).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${OVREL_WIN_BUILD:-build-win}
scripts/windows-build.sh "$build"

# The same prefix and settings as the test commands that CTest runs.
export WINEPREFIX=$PWD/$build/wineprefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=

# The prefix is made once per build folder; then one server serves the
# whole run, where each test would otherwise wait for a new one.
printf '== windows: Wine prefix (%ds)\n' "$SECONDS"
if [[ ! -d $WINEPREFIX ]]; then
  wineboot --init
  wineserver -w
fi
wineserver -p || true  # already running is fine
trap 'wineserver -k || true' EXIT
# Wine's background services start with the first program and keep its
# output streams open; started here, they hold no test's output open.
wine cmd /c exit </dev/null >/dev/null 2>&1

# Tests that do not yet hold on Windows, each for a reason in
# docs/windows.md; everything else runs.
not_yet=(
  null_handle_test
  'launcher\.(args|errors|trailer|firstline|naming)'
  'glue\.refusals'
)
skip="^($(IFS='|'; echo "${not_yet[*]}"))\$"

printf '== windows: tests under Wine (%ds)\n' "$SECONDS"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 -E "$skip"
printf '== windows: done (%ds)\n' "$SECONDS"
