#!/usr/bin/env bash
# Configures the instrumented host build (clang-19, AddressSanitizer and UndefinedBehaviorSanitizer
# with every report fatal, libFuzzer coverage) in <build>/sanitize and builds the targets named on
# the command line. The tests run under the sanitizers there (scripts/sanitize.sh) and the fuzz
# targets are built there too (scripts/fuzz.sh): one compile of the program serves both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}/sanitize
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-19 \
  -DQUARVEL_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "$@"
