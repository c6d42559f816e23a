#!/usr/bin/env bash
# Builds the cross lane (mingw-w64) and the host lane (simulated Windows), in that order, so
# that the host lane's tests can run the cross lane's outputs under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build/cross" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-posix.cmake" >/dev/null
cmake --build "$build/cross" -j2
cmake -S "$root" -B "$build/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DQUARVEL_CROSS_DIR="$build/cross" >/dev/null
cmake --build "$build/host" -j2
