#!/usr/bin/env bash
# The test command: installs what is missing, builds all three lanes, runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build=${QUARVEL_BUILD_DIR:-$root/build}
cd "$build/host"
ctest -j2 --output-on-failure --timeout 900
# The release zip from the cross lane's outputs, and what it holds.
"$root/scripts/check-package.py" "$("$root/scripts/package.sh")"
# The host lane optimised (compiled only), the tests under the sanitizers, and every fuzz target
# for a bounded time.
"$root/scripts/build-optimised.sh"
"$root/scripts/sanitize.sh"
"$root/scripts/fuzz.sh"
