#!/usr/bin/env bash
# test-memcheck.sh: the script-level suite under valgrind's memcheck, in
# build-memcheck/.
#
# Any invalid read or write, and any block definitely or indirectly lost,
# fails the test that caused it; blocks the interpreter still holds at exit
# are allowed.  Before the suite, two planted faults in a loaded module
# must be reported, or the checker is not watching what the suite loads;
# then the launcher runs a self-running program to its end and to an error.
# The heap-failure twins of the launcher and the glue tool replace malloc
# themselves and run no interpreter: they are left to the native suite.
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

cmake --preset memcheck "-DOVREL_LUA_HOST=$host" >/dev/null
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

# The launcher itself: a self-running program run to its end, and one whose
# script raises and which ends through its report and exit status 1.
T=$(mktemp -d "${TMPDIR:-/tmp}/ovrel-memcheck.XXXXXX")
trap 'rm -rf "$T"' EXIT
cp build-memcheck/bin/libovrel.so.1 "$T/"  # the name the programs need
printf '%s\n' 'local t = {}' 'for i = 1, 100 do t[i] = ("x"):rep(i) end' \
  'io.write(#table.concat(t), " ", select("#", ...), "\n")' > "$T/ends.lua"
printf '%s\n' 'error("raised on purpose")' > "$T/raises.lua"
for p in ends raises; do build-memcheck/bin/ovrelglue "$T/$p.lua" -o "$T/$p"; done
# launched PROGRAM STATUS OUTPUT: the run ends with STATUS and OUTPUT (on
# stdout for status 0, in the report otherwise) and memcheck finds nothing.
launched() {
  local status=0
  "${memcheck[@]}" "$T/$1" a b > "$T/out" 2> "$T/err" || status=$?
  if [[ $status != "$2" || $(cat "$T/out" "$T/err") != *"$3"* ]]; then
    echo "memcheck: the launcher running $1 ended with status $status" >&2
    cat "$T/out" "$T/err" >&2
    exit 1
  fi
  echo "memcheck: launcher running $1: clean"
}
launched ends 0 "5050 2"
launched raises 1 "raised on purpose"

ctest --test-dir build-memcheck --output-on-failure -j"$jobs" -R '^(lua|faults|hosts)\.' \
  -E '^faults\.(launcher_heap|glue_heap_.*)$'
