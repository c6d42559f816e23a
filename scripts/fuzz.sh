#!/usr/bin/env bash
# Runs every fuzz target of fuzz/ for a bounded time (QUARVEL_FUZZ_SECONDS each, default 20),
# starting from its seeds in fuzz/corpus/<target>. Inputs the fuzzer finds go to a scratch
# directory, so the seeds in the repository stay as they are. Any crash, sanitizer report,
# leak or broken property fails the command; libFuzzer leaves the input that caused it in
# <build>/fuzz-findings/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}/sanitize
seconds=${QUARVEL_FUZZ_SECONDS:-20}
"$root/scripts/instrumented-build.sh" fuzz_targets

# The framing target makes simulated objects; give it a machine of its own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export WINSIM_MACHINE="$scratch/machine"

failed=()
for seeds in "$root"/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  dictionary="$root/fuzz/dictionaries/json.dict"
  [ "$target" = command_line_fuzzer ] && dictionary="$root/fuzz/dictionaries/command_line.dict"
  findings="$build/fuzz-findings/$target"
  rm -rf "$findings" && mkdir -p "$findings" "$scratch/$target"
  log="$findings/log"
  echo "fuzzing $target for ${seconds}s"
  if "$build/fuzz/$target" "$scratch/$target" "$seeds" -dict="$dictionary" -max_total_time="$seconds" \
      -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" | tr '\n' ' '
    echo
  else
    tail -n 60 "$log"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build/fuzz-findings/)"
  exit 1
fi
