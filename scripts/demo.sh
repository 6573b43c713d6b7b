#!/usr/bin/env bash
# demo.sh: sets up, builds, and runs the example script with the map module.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
LUA_CPATH="$PWD/build/bin/?.so" lua5.1 examples/tour.lua
