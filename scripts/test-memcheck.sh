#!/usr/bin/env bash
# test-memcheck.sh: the script-level suite under valgrind's memcheck, in
# build-memcheck/.
#
# Any invalid read or write, and any block definitely or indirectly lost,
# fails the test that caused it; blocks the interpreter still holds at exit
# are allowed.  Before the suite, two planted faults in a loaded module
# must be reported, or the checker is not watching what the suite loads.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh valgrind
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

lua=$(command -v lua5.1)
memcheck=(valgrind --quiet --error-exitcode=99 --leak-check=full
          --suppressions="$PWD/tests/hosts/memcheck.supp"
          --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect
          --num-callers=30)
host=$(IFS=';'; echo "${memcheck[*]};$lua")

cmake -S . -B build-memcheck -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DOVREL_LUA_HOST=$host" >/dev/null
cmake --build build-memcheck -j"$jobs"

# canary FAULT WORDS: the planted FAULT must fail its run with WORDS reported.
canary() {
  local out status=0
  out=$(cd tests/hosts && LUA_CPATH="$PWD/../../build-memcheck/canary/?.so" \
        "${memcheck[@]}" "$lua" planted.lua "$1" 2>&1) || status=$?
  if [[ $status != 99 || $out != *"$2"* ]]; then
    echo "memcheck: the planted $1 was not reported (status $status)" >&2
    echo "$out" >&2
    exit 1
  fi
  echo "memcheck: planted $1 reported"
}
canary leak "48 bytes in 1 blocks are definitely lost"
canary overrun "Invalid write of size 1"

ctest --test-dir build-memcheck --output-on-failure -j"$jobs" -R '^(lua|faults|hosts)\.'
