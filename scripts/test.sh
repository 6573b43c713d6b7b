#!/usr/bin/env bash
# test.sh: sets up, builds and runs every test.
#
# The native suite always runs; then each further stage that exists, in
# this order: lua5.2, lua5.3 and lua5.4 (the module on each later engine),
# package, ship, sanitize, memcheck, fuzz, coverage, windows.
# OVREL_STAGES="native memcheck" (say) runs only those.  A summary closes the run: each stage
# with its time, and every SKIPPED line a stage wrote (common.sh: skipped).
set -euo pipefail
cd "$(dirname "$0")/.."

stages=${OVREL_STAGES:-native lua5.2 lua5.3 lua5.4 package ship sanitize memcheck fuzz coverage windows}
OVREL_SKIPPED=$(mktemp "${TMPDIR:-/tmp}/ovrel-skipped.XXXXXX")
export OVREL_SKIPPED
summary=()
trap 'rm -f "$OVREL_SKIPPED"' EXIT

scripts/setup.sh
skips_before=0
for stage in $stages; do
  start=$SECONDS
  if [[ $stage == native ]]; then
    echo "== native build and tests"
    cmake --preset native >/dev/null
    cmake --build build -j"$(nproc)"
    ctest --test-dir build --output-on-failure -j"$(nproc)"
  elif [[ $stage == lua5.[234] ]]; then
    echo "== $stage"
    scripts/test-engine.sh "${stage#lua}"
  elif [[ -x scripts/test-$stage.sh ]]; then
    echo "== $stage"
    "scripts/test-$stage.sh"
  else
    continue
  fi
  note=
  skips=$(grep -c . "$OVREL_SKIPPED" || true)
  ((skips == skips_before)) || note=", but SKIPPED parts (below)"
  skips_before=$skips
  summary+=("$(printf '  %-9s passed in %ds%s' "$stage" $((SECONDS - start)) "$note")")
done

echo "== summary"
printf '%s\n' "${summary[@]}"
if [[ -s $OVREL_SKIPPED ]]; then
  echo "Passed, but not everything ran:"
  cat "$OVREL_SKIPPED"
else
  echo "Passed: every stage ran in full."
fi
