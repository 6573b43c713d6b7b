#!/usr/bin/env bash
# test-engine.sh ENGINE: the runtime and the module built for a later Lua
# engine (5.2, 5.3 or 5.4) in build-ENGINE, and what differs by engine
# tested there: the runtime's unit tests, the module's script-level tests
# and its heap-failure run under that engine's interpreter, the module
# alone on that engine, an install with a third party's module built
# through its packages, and lua5.1 refusing the module.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

engine=${1:?usage: test-engine.sh 5.2|5.3|5.4}
scripts/setup.sh "lua$engine" "liblua$engine-dev"
build=build-$engine
cmake --preset native -B "$build" -DOVREL_LUA="$engine" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
