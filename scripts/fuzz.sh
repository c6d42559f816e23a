#!/usr/bin/env bash
# Runs every fuzz target of fuzz/ for a bounded time (QUARVEL_FUZZ_SECONDS each, default 20), two
# at a time, starting from its seeds in fuzz/corpus/<target>. Inputs the fuzzer finds go to a
# scratch directory, so the seeds in the repository stay as they are. Any crash, sanitizer
# report, leak or broken property fails the command; libFuzzer leaves the input that caused it
# in <build>/fuzz-findings/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}/sanitize
seconds=${QUARVEL_FUZZ_SECONDS:-20}
"$root/scripts/instrumented-build.sh" fuzz_targets

# The framing target makes simulated objects; give the targets a machine of their own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export WINSIM_MACHINE="$scratch/machine"
symbolizer=$(command -v llvm-symbolizer-19 || command -v llvm-symbolizer || true)
export ASAN_SYMBOLIZER_PATH="$symbolizer"

fuzz() {
  local target=$1 dictionary="$root/fuzz/dictionaries/json.dict"
  [ "$target" = command_line_fuzzer ] && dictionary="$root/fuzz/dictionaries/command_line.dict"
  local findings="$build/fuzz-findings/$target"
  rm -rf "$findings" && mkdir -p "$findings" "$scratch/$target"
  "$build/fuzz/$target" "$scratch/$target" "$root/fuzz/corpus/$target" -dict="$dictionary" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" >"$findings/log" 2>&1
}

report() {
  local target=$1 status=$2 log="$build/fuzz-findings/$1/log"
  if [ "$status" -eq 0 ]; then
    echo "$target: $(grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" | tr -s ' \n' ' ')"
  else
    tail -n 60 "$log"
    echo "$target: FAILED (exit code $status)"
  fi
}

targets=()
for seeds in "$root"/fuzz/corpus/*/; do
  targets+=("$(basename "$seeds")")
done
echo "fuzzing ${#targets[@]} targets for ${seconds}s each, two at a time"
failed=()
for ((k = 0; k < ${#targets[@]}; k += 2)); do
  pair=("${targets[@]:k:2}")
  pids=()
  for target in "${pair[@]}"; do
    fuzz "$target" &
    pids+=($!)
  done
  for i in "${!pair[@]}"; do
    status=0
    wait "${pids[$i]}" || status=$?
    report "${pair[$i]}" "$status"
    [ "$status" -eq 0 ] || failed+=("${pair[$i]}")
  done
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build/fuzz-findings/)"
  exit 1
fi
