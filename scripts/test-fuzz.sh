#!/usr/bin/env bash
# test-fuzz.sh: a bounded libFuzzer run of each fuzz target, in build-fuzz/.
#
# Each target starts from its seed corpus in fuzz/corpus/ (copied, so the
# repository's seeds stay as they are) and runs for OVREL_FUZZ_SECONDS
# (60) under AddressSanitizer and UndefinedBehaviorSanitizer; the targets
# run side by side, all at once.  A crash, leak, hang or failed check
# fails the stage; the input that caused it is kept in build-fuzz/artifacts/
# and printed, to be added to the corpus once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh clang libclang-rt-14-dev
seconds=${OVREL_FUZZ_SECONDS:-60}
targets=(maptable reader bytecode image)
declare -A max_len=([maptable]=512 [reader]=4096 [bytecode]=4096 [image]=8192)

cmake --preset fuzz >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/%/_fuzz}"

rm -rf build-fuzz/work build-fuzz/artifacts
mkdir -p build-fuzz/artifacts
pids=()
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/work/$t"
  cp fuzz/corpus/"$t"/* "build-fuzz/work/$t/"
  build-fuzz/fuzz/"${t}_fuzz" "build-fuzz/work/$t" -max_total_time="$seconds" \
    -max_len="${max_len[$t]}" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$t-" > "build-fuzz/work/$t.log" 2>&1 &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  status=0
  wait "${pids[$i]}" || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/work/$t.log")
  if ((status == 0)); then
    echo "fuzz: $t: ${runs:-?} executions in ${seconds}s, no failure"
  else
    failed=1
    echo "fuzz: $t: FAILED (status $status)"
    grep -v '^#[0-9]' "build-fuzz/work/$t.log" | tail -60
    for a in build-fuzz/artifacts/"$t"-*; do
      [[ -e $a ]] && echo "fuzz: $t: input $a (base64): $(base64 -w0 "$a")"
    done
  fi
done
exit "$failed"
