#!/usr/bin/env bash
# test-sanitize.sh: the whole suite built with AddressSanitizer (leak
# checking included) and UndefinedBehaviorSanitizer, in build-asan/.
#
# Script-level tests run in the project's own test host, which carries the
# sanitizer runtime the module needs.  The canary tests plant a leak, an
# overrun and an overflow in a loaded module and pass only when the
# checkers report them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

cmake --preset sanitize >/dev/null
cmake --build build-asan -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j"$jobs"
