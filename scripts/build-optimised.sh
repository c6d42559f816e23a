#!/usr/bin/env bash
# The host lane built once more as a Release build (-O3), warnings as errors: GCC finds some
# faults (overlapping copies, out-of-range accesses after inlining) only when it optimises, and
# the test command's own host build does not. Nothing of it runs; compiling is the test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}/release
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2
