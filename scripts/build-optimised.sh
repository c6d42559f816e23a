#!/usr/bin/env bash
# The host lane built once more as a Release build (-O3), warnings as errors: GCC finds some
# faults (overlapping copies, out-of-range accesses after inlining) only when it optimises, and
# the test command's own host build does not. Compiled, not run. To keep the test command short
# it compiles what is not compiled optimised elsewhere and matters most: both programs, the
# simulated host, the helper programs and the benchmarks (the cross lane compiles the program
# and the unit tests at -O3 already). The test binaries of the host lane are left out; with no
# target named (QUARVEL_OPTIMISED_TARGETS=all) everything is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}/release
targets=(quarvel-sandbox-windows quarvel-sandbox-selftest)
for source in "$root"/tests/programs/*.cpp "$root"/bench/*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
[ "${QUARVEL_OPTIMISED_TARGETS:-}" = all ] && targets=(all)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"
