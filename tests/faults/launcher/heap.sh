#!/usr/bin/env bash
# heap.sh: a self-running program run once for every allocation of its
# process, with that allocation failing.
#
# Run n glues script.lua onto the launcher's failing-heap twin and starts it
# with OVREL_FAILAT=n.  Each run must end in one of two ways: as if nothing
# had failed (status 0, the script's output, nothing on stderr), or with
# exactly one report on stderr, "<program>: <message>", and status 1, where
# the message is one that running out of memory can give, wherever in the
# launcher it fails.  The runs stop at the first n past the program's last
# allocation.
#
# From the environment: TWIN (the launcher built with heapfail.cpp), GLUE,
# RUNTIME (the runtime library the program needs beside it).
set -u
: "${TWIN:?}" "${GLUE:?}" "${RUNTIME:?}"
here=$(cd "$(dirname "$0")" && pwd)

T=$(mktemp -d "${TMPDIR:-/tmp}/ovrel-heapfail.XXXXXX")
T=$(cd "$T" && pwd -P)
trap 'rm -rf "$T"' EXIT
mkdir "$T/faults" "$T/bin"
cp "$RUNTIME" "$T/bin/"   # the twin finds it in ../bin
prog=$T/faults/prog
"$GLUE" "$here/script.lua" -o "$prog" --launcher "$TWIN" || exit 1

expected='args: one,two words; args[0] given: true; 820'
# Messages that a failed allocation may end in, after "<program>: ".
memory_reports=(
  "Cannot create state: not enough memory."
  "not enough memory"
  "Cannot open $prog: Cannot allocate memory."
  "Cannot fetch environment : Cannot allocate memory."
  "error in error handling"
)

failures=0
fail() {
  echo "run $n: $*"
  echo "  status $status; stdout: $(head -c 300 "$T/out")"
  echo "  stderr: $(head -c 600 "$T/err")"
  failures=$((failures + 1))
}

declare -A endings=()
n=0
while :; do
  n=$((n + 1))
  rm -f "$T/count"
  status=0
  OVREL_FAILAT=$n OVREL_HEAPLOG=$T/count "$prog" one "two words" > "$T/out" 2> "$T/err" || status=$?
  if [[ ! -s $T/count ]]; then
    fail "the process died without ending normally"
    break
  fi
  made=$(< "$T/count")
  out=$(< "$T/out")
  if ((made < n)); then
    [[ $status == 0 && $out == "$expected" && ! -s $T/err ]] || fail "the run with nothing failing did not run the script"
    break
  fi
  if [[ $status == 0 ]]; then
    if [[ $out == "$expected" && ! -s $T/err ]]; then
      endings[absorbed]=$(( ${endings[absorbed]:-0} + 1 ))
    else
      fail "status 0, but not the script's output alone"
    fi
    continue
  fi
  [[ $status == 1 ]] || { fail "exit status $status"; continue; }
  [[ -z $out ]] || { fail "output besides the report"; continue; }
  reports=$(grep -c "^$prog: " "$T/err")
  [[ $reports == 1 ]] || { fail "$reports reports"; continue; }
  first=$(head -n 1 "$T/err")
  message=${first#"$prog: "}
  known=0
  for m in "${memory_reports[@]}"; do [[ $message == "$m" ]] && known=1; done
  # A report that carries a traceback has it after the first line only.
  if ((known)); then
    endings[$message]=$(( ${endings[$message]:-0} + 1 ))
  else
    fail "a report that is not about memory"
  fi
  if ((n > 100000)); then fail "no end to the allocations"; break; fi
done

echo "$((n - 1)) allocations failed in turn, $failures wrong endings"
for e in "${!endings[@]}"; do echo "  ${endings[$e]} x $e"; done
((failures == 0 && n > 10))
