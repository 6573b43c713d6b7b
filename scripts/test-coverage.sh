#!/usr/bin/env bash
# test-coverage.sh: the native suite built with gcov counters, in
# build-coverage/ (or $OVREL_COVERAGE_BUILD), and the share of the
# product's lines and branches it reaches.  Branches the compiler adds for
# exceptions, and those it can prove never taken, are not counted.  Fails
# below the goals (OVREL_COVERAGE_LINES, OVREL_COVERAGE_BRANCHES percent).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh gcovr
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
build=${OVREL_COVERAGE_BUILD:-build-coverage}
goal_lines=${OVREL_COVERAGE_LINES:-98}
goal_branches=${OVREL_COVERAGE_BRANCHES:-90}

cmake --preset coverage -B "$build" >/dev/null
cmake --build "$build" -j"$jobs"
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" --output-on-failure -j"$jobs"

gcovr --root . --object-directory "$build" \
  --filter 'host/' --filter 'numhash/' --filter 'launcher/' --filter 'glue/' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --txt "$build/coverage.txt" --print-summary \
  --fail-under-line "$goal_lines" --fail-under-branch "$goal_branches" \
  "$build" || status=$?
cat "$build/coverage.txt"
exit "${status:-0}"
