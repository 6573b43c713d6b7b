#!/usr/bin/env bash
# demo.sh: sets up, builds, runs the example script with the map module, then
# makes a self-running program of another example and runs it from elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset native >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
LUA_CPATH="$PWD/build/bin/?.so" lua5.1 examples/tour.lua

# The program lands beside the runtime and the module it loads, as shipped.
echo
echo "== build/bin/wordfreq: the launcher with examples/wordfreq.lua glued on"
build/bin/ovrelglue examples/wordfreq.lua -o build/bin/wordfreq
build/bin/ovrelglue --show build/bin/wordfreq
top=$PWD
cd "${TMPDIR:-/tmp}"
echo "== run from $PWD"
"$top/build/bin/wordfreq" "$top/README.md" "$top/docs/launcher.md"
