#!/usr/bin/env bash
# test.sh: sets up, builds and runs every test.
#
# The native suite always runs; then each further stage that exists, in
# this order: package, sanitize, memcheck, fuzz, coverage, windows.  OVREL_STAGES="native
# memcheck" (say) runs only those.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=${OVREL_STAGES:-native package sanitize memcheck fuzz coverage windows}

scripts/setup.sh
for stage in $stages; do
  if [[ $stage == native ]]; then
    echo "== native build and tests"
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build -j"$(nproc)"
    ctest --test-dir build --output-on-failure -j"$(nproc)"
  elif [[ -x scripts/test-$stage.sh ]]; then
    echo "== $stage"
    "scripts/test-$stage.sh"
  fi
done
