#!/usr/bin/env bash
# heap.sh JOB...: the glue tool run once for every allocation it makes,
# with that allocation failing, in each job named: make (a program),
# with-deps, show (--show) and extract (--extract).
#
# Each run must end either as the run with nothing failing does (status 0,
# the same output, the same files) or with one report about memory on
# stderr, "ovrelglue: <message>", status 1, nothing on stdout, and nothing
# left of what it was writing: no output, no temporary file or folder.
# Files copied beside a program before it may stay, whole.  The runs of a job stop at
# the first n past its last allocation.
#
# From the environment: TWIN (the tool built with the failing heap),
# LAUNCHER (a launcher that loads the runtime), NUMHASH (a native module).
set -u
shopt -s dotglob nullglob extglob
: "${TWIN:?}" "${LAUNCHER:?}" "${NUMHASH:?}"
here=$(cd "$(dirname "$0")" && pwd)

T=$(mktemp -d "${TMPDIR:-/tmp}/ovrel-glueheap.XXXXXX")
trap 'rm -rf "$T"' EXIT
mkdir "$T/src" "$T/work"
cp "$here/main.lua" "$here/helper.lua" "$NUMHASH" "$T/src/"
cd "$T/work" || exit 1

failures=0
runs=0
fail() {
  echo "$job, run $n: $*"
  echo "  status $status; stdout: $(head -c 300 "$T/out")"
  echo "  stderr: $(head -c 600 "$T/err")"
  failures=$((failures + 1))
}

# The state of the work folder after a job: every file with its bytes.
state() { (cd "$T/work" && find . -mindepth 1 | LC_ALL=C sort | while read -r f; do
  if [[ -f $f ]]; then echo "$f $(cksum < "$f")"; else echo "$f/"; fi; done); }

# job NAME ARGS...: the tool run with ARGS from an empty work folder.
clean() { rm -rf "$T/work"/*; }
job() {
  job=$1
  shift
  clean
  "$TWIN" "$@" > "$T/want.out" 2> "$T/want.err" || { echo "$job: fails with nothing failing"; cat "$T/want.err"; failures=$((failures + 1)); return; }
  local want
  want=$(state)
  n=0
  while :; do
    n=$((n + 1))
    clean
    rm -f "$T/count"
    status=0
    OVREL_FAILAT=$n OVREL_HEAPLOG=$T/count "$TWIN" "$@" > "$T/out" 2> "$T/err" || status=$?
    runs=$((runs + 1))
    [[ -s $T/count ]] || { fail "the process died without ending normally"; break; }
    if (($(< "$T/count") < n)); then
      break
    fi
    if ((status == 0)); then
      cmp -s "$T/out" "$T/want.out" && cmp -s "$T/err" "$T/want.err" && [[ $(state) == "$want" ]] ||
        fail "status 0, but not what the run with nothing failing gives"
      continue
    fi
    ((status == 1)) || { fail "exit status $status"; continue; }
    [[ ! -s $T/out ]] || { fail "output besides the report"; continue; }
    [[ $(wc -l < "$T/err") == 1 && $(head -c 11 "$T/err") == "ovrelglue: " ]] ||
      { fail "not one report"; continue; }
    [[ $(< "$T/err") == *@(not enough memory|Cannot allocate memory) ]] ||
      { fail "a report that is not about memory"; continue; }
    # Nothing that the run made may stay, but whole copies of what travels
    # beside the program (only work/ changes, and it starts empty).
    local left=() f
    for f in "$T/work"/*; do
      [[ -f $f && ${f##*/} != prog && $want == *"./${f##*/} $(cksum < "$f")"* ]] || left+=("${f##*/}")
    done
    ((${#left[@]} == 0)) || { fail "left behind: ${left[*]}"; continue; }
    if ((n > 100000)); then fail "no end to the allocations"; break; fi
  done
  echo "$job: $((n - 1)) allocations failed in turn"
}

src=$T/src
for name in "$@"; do
  case $name in
    make) job make "$src/main.lua" -o prog --launcher "$LAUNCHER" ;;
    with-deps) job with-deps "$src/main.lua" -o prog --launcher "$LAUNCHER" --with-deps ;;
    show|extract)
      [[ -f $T/prog ]] || "$TWIN" "$src/main.lua" -o "$T/prog" --launcher "$LAUNCHER" 2> /dev/null
      if [[ $name == show ]]; then job show --show "$T/prog"; else job extract --extract "$T/prog" tree; fi ;;
    *) echo "heap.sh: no job $name"; exit 1 ;;
  esac
done

echo "$runs runs, $failures wrong endings"
((failures == 0 && runs > 10))
