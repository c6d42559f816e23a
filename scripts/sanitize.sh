#!/usr/bin/env bash
# The unit, component and end-to-end tests of the host lane, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang-19) and run by ctest. Every process of the run, the programs
# the simulated host starts included, writes its sanitizer reports (errors, undefined behaviour,
# leaks at exit) into one directory, and any report fails the command, even one from a process
# whose end no test looks at. The build is shared with the fuzz targets (scripts/fuzz.sh), which
# it builds as well so that both compile in one pass (scripts/instrumented-build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}/sanitize
"$root/scripts/instrumented-build.sh" quarvel_tests quarvel_e2e_tests fuzz_targets

reports="$build/sanitizer-reports"
rm -rf "$reports" && mkdir -p "$reports"
symbolizer=$(command -v llvm-symbolizer-19 || command -v llvm-symbolizer || true)
export ASAN_SYMBOLIZER_PATH="$symbolizer"
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1"
status=0
(cd "$build" && ctest -j2 --output-on-failure --timeout 900) || status=$?
if compgen -G "$reports/*" >/dev/null; then
  for report in "$reports"/*; do
    echo "---- $report"
    head -n 60 "$report"
  done
  echo "sanitizers reported faults (reports in $reports)"
  exit 1
fi
exit $status
