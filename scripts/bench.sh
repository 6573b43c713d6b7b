#!/usr/bin/env bash
# bench.sh: installs what the benchmarks need, builds them into build-bench/,
# runs them all and writes docs/benchmarks.md and docs/benchmarks.png.
#
# BENCH_QUICK=1 takes fewer repetitions and smaller maps, for a try-out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh libbenchmark-dev libabsl-dev libboost1.81-dev hyperfine gnuplot-nox lua-check \
  liblua5.2-dev liblua5.3-dev liblua5.4-dev

build=build-bench
bin=$build/bin
results=$build/results
rm -rf "$results"
mkdir -p "$results" docs

if [[ ${BENCH_QUICK:-0} == 1 ]]; then
  reps=3 min_time=0.02 script_reps=1 startup_runs=50 big_runs=3 engine_reps=3 engine_largest=100000
else
  reps=5 min_time=0.1 script_reps=3 startup_runs=300 big_runs=10 engine_reps=5 engine_largest=1000000
fi

echo "== build" >&2
cmake -S bench -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null

load() { cut -d' ' -f1-3 /proc/loadavg; }
{
  echo "date = $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "processor = $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
  echo "cores = $(nproc)"
  echo "memory = $(free -g | awk '/^Mem:/ {print $2 " GiB"}')"
  echo "kernel = $(uname -r)"
  echo "compiler = $(c++ --version | head -1)"
  echo "engine = $(lua5.1 -v 2>&1 | head -1)"
  echo "commit = $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "repetitions = $reps"
  echo "script repetitions = $script_reps"
  echo "gc repetitions = $((2 * script_reps + 1))"
  echo "startup runs = $startup_runs (10 MB script: $big_runs)"
  echo "load before (1, 5, 15 min) = $(load)"
} > "$results/machine.txt"

echo "== table core against peers" >&2
"$bin/core_bench" --benchmark_repetitions=$reps --benchmark_min_time=$min_time \
  --benchmark_report_aggregates_only=true --benchmark_format=csv \
  > "$results/core.csv" 2> "$results/core.log"

echo "== script level" >&2
LUA_CPATH="$PWD/$bin/?.so" lua5.1 bench/script_bench.lua $script_reps > "$results/script.tsv"
LUA_CPATH="$PWD/$bin/?.so" lua5.1 bench/read_steps.lua > "$results/steps.tsv"

# The same reads and writes on every engine, each with its own module; lua5.1
# and LuaJIT load the 5.1 one.  engines.txt names the run, so the section
# can be moved to a page written by another run.
echo "== script level on each engine" >&2
for v in 5.2 5.3 5.4; do
  cmake -S . -B build-bench-engine-$v -DOVREL_LUA=$v -DOVREL_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-bench-engine-$v -j2 >/dev/null
done
{
  echo "date = $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "processor = $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
  echo "commit = $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "repetitions = $engine_reps"
  echo "load before (1, 5, 15 min) = $(load)"
} > "$results/engines.txt"
for lua in lua5.1 luajit lua5.2 lua5.3 lua5.4; do
  case $lua in
    lua5.1 | luajit) cpath=$bin ;;
    *) cpath=build-bench-engine-${lua#lua}/bin ;;
  esac
  echo "$lua = $($lua -v 2>&1 | head -1 | cut -d' ' -f1-2)" >> "$results/engines.txt"
  LUA_CPATH="$PWD/$cpath/?.so" $lua bench/engines.lua $engine_reps $engine_largest >> "$results/engines.tsv"
done
echo "load after (1, 5, 15 min) = $(load)" >> "$results/engines.txt"

# Sequential and clustered keys go to 10^7; a try-out stops at 2x10^6.
echo "== sequential keys as n grows; large maps made and dropped" >&2
if [[ ${BENCH_QUICK:-0} == 1 ]]; then seq_largest=2000000 churn_maps=1000; else seq_largest=10000000 churn_maps=3000; fi
LUA_CPATH="$PWD/$bin/?.so" lua5.1 bench/sequential.lua $seq_largest > "$results/sequential.tsv"
LUA_CPATH="$PWD/$bin/?.so" lua5.1 bench/churn.lua $churn_maps > "$results/churn.tsv"

# Clustered keys with the lookup aids and by the plain rules, to 10^7
# (10^6 for a try-out); the plain rules' long fills take most of it.
echo "== clustered keys: lookup aids against the plain rules" >&2
"$bin/clustered" "$seq_largest" > "$results/clustered.tsv"

echo "== start-up" >&2
"$bin/ovrelglue" bench/hello.lua -o "$bin/hello" 2>/dev/null
"$bin/ovrelglue" --launcher "$bin/ovrelrun" bench/hello.lua -o "$bin/hello-shared" 2>/dev/null
{
  echo "standalone = $(wc -c < "$bin/hello")"
  echo "shared-library launcher = $(wc -c < "$bin/hello-shared")"
  echo "runtime library = $(wc -c < "$bin/libovrel.so.1")"
  echo "engine library = $(wc -c < "$(readlink -f /usr/lib/x86_64-linux-gnu/liblua5.1.so.0)")"
  echo "glibc floor = $(objdump -T "$bin/hello" | grep -o 'GLIBC_[0-9.]*' | sort -Vu | tail -1)"
} > "$results/sizes.txt"
lua5.1 bench/bigscript.lua > "$build/big.lua"
"$bin/ovrelglue" "$build/big.lua" -o "$bin/big" >/dev/null
hyperfine -N --style none --warmup 20 --runs $startup_runs --export-csv "$results/startup1.csv" \
  -n "trivial C program" "$bin/trivial" \
  -n "lua5.1 hello.lua" "lua5.1 bench/hello.lua" \
  -n "self-running hello" "$bin/hello" \
  -n "self-running hello, shared-library launcher" "$bin/hello-shared" \
  >/dev/null 2>>"$results/hyperfine.log"
hyperfine -N --style none --warmup 2 --runs $big_runs --export-csv "$results/startup2.csv" \
  -n "lua5.1 big.lua (10 MB)" "lua5.1 $build/big.lua" \
  -n "self-running 10 MB script" "$bin/big" >/dev/null 2>>"$results/hyperfine.log"
{ cat "$results/startup1.csv"; tail -n +2 "$results/startup2.csv"; } > "$results/startup.csv"

echo "== start-up with carried data" >&2
# One script glued twice: carrying nothing, and carrying ten files of 10 MiB.
mkdir -p "$build/carried"
for i in 0 1 2 3 4 5 6 7 8 9; do head -c 10485760 /dev/urandom > "$build/carried/part$i.bin"; done
"$bin/ovrelglue" bench/carry.lua -o "$bin/carry0" 2>/dev/null
"$bin/ovrelglue" bench/carry.lua -o "$bin/carry100" --include "$build/carried=data" 2>/dev/null
hyperfine -N --style none --warmup 20 --runs $startup_runs --export-csv "$results/carry.csv" \
  -n "carrying nothing" "$bin/carry0" \
  -n "carrying 100 MiB" "$bin/carry100" >/dev/null 2>>"$results/hyperfine.log"
{
  echo "bytes nothing = $(wc -c < "$bin/carry0")"
  echo "bytes carrying = $(wc -c < "$bin/carry100")"
  echo "peak nothing = $("$bin/carry0" | cut -d' ' -f2)"
  echo "peak carrying = $("$bin/carry100" | cut -d' ' -f2)"
  echo "read bytes = $("$bin/carry100" data/part3.bin | cut -d' ' -f1)"
  echo "peak reading = $("$bin/carry100" data/part3.bin | cut -d' ' -f2)"
} > "$results/carry.txt"

echo "== multi-file start-up" >&2
# Debian's luacheck from its installed files, against the same program
# bundled into one self-running file.
lc_runs=$((startup_runs / 3))
# It travels with the native modules it loads (lfs), in a folder of its own.
mkdir -p "$bin/lc"
"$bin/ovrelglue" /usr/bin/luacheck -m 'luacheck.*' --allow-missing socket -o "$bin/lc/luacheck" --with-deps 2> "$results/bundle.log"
lc_files=(/usr/bin/luacheck /usr/share/lua/5.1/argparse.lua $(find /usr/share/lua/5.1/luacheck -name '*.lua'))
{
  echo "bundle bytes = $(wc -c < "$bin/lc/luacheck")"
  echo "bundled modules = $(sed -n 's/.* bundled \([0-9]*\) modules.*/\1/p' "$results/bundle.log")"
  echo "installed files = ${#lc_files[@]}"
  echo "installed bytes = $(cat "${lc_files[@]}" | wc -c)"
  echo "bundle runs = $lc_runs"
} > "$results/bundle.txt"
lc_args="--no-color --codes bench/hello.lua bench/shuffle.lua bench/report.lua"
# -i: luacheck ends with status 1 when it has warnings to report.
hyperfine -N -i --style none --warmup 5 --runs $lc_runs --export-csv "$results/bundle.csv" \
  -n "luacheck --version" "/usr/bin/luacheck --version" \
  -n "bundled luacheck --version" "$bin/lc/luacheck --version" \
  -n "luacheck on 3 files" "/usr/bin/luacheck $lc_args" \
  -n "bundled luacheck on 3 files" "$bin/lc/luacheck $lc_args" >/dev/null 2>>"$results/hyperfine.log"
# The same four counted in instructions, which the machine's load does not change.
i=0
for c in "lua5.1 /usr/bin/luacheck --version" "$bin/lc/luacheck --version" \
         "lua5.1 /usr/bin/luacheck $lc_args" "$bin/lc/luacheck $lc_args"; do
  i=$((i + 1))
  echo "instructions $i = $(valgrind --tool=callgrind --callgrind-out-file=/dev/null $c 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p')"
done >> "$results/bundle.txt"

echo "load after (1, 5, 15 min) = $(load)" >> "$results/machine.txt"

echo "== report" >&2
lua5.1 bench/report.lua "$results" docs/benchmarks.md "$results"
gnuplot -e "datadir='$results'; out='docs/benchmarks.png'" bench/chart.gp
echo "wrote docs/benchmarks.md and docs/benchmarks.png" >&2
