#!/usr/bin/env bash
# The program's main job on a throwaway simulated Windows machine: setup, probe, a probe after
# someone tampered with the installation, and protected runs. Each step prints what the host
# application would see: standard output, standard error, exit code, status file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}/host
exe=$build/quarvel-sandbox-windows
command_program=$build/sandboxed_command

if [ ! -x "$exe" ] || [ ! -x "$command_program" ]; then
  "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$build" -j2 --target quarvel-sandbox-windows sandboxed_command >/dev/null
fi

machine=$(mktemp -d)
trap 'rm -rf "$machine"' EXIT
export WINSIM_MACHINE=$machine

step() {
  local title=$1
  shift
  echo "== $title"
  echo "\$ quarvel-sandbox-windows $*"
  local out err code
  out=$(mktemp) err=$(mktemp)
  set +e
  "$exe" "$@" >"$out" 2>"$err"
  code=$?
  set -e
  [ -s "$out" ] && { echo "-- standard output:"; cat "$out"; [ -z "$(tail -c1 "$out")" ] || echo; }
  [ -s "$err" ] && { echo "-- standard error:"; cat "$err"; [ -z "$(tail -c1 "$err")" ] || echo; }
  echo "-- exit code: $code"
  rm -f "$out" "$err"
}

show_status() {
  echo "-- status file $1:"
  cat "$2"
  echo
  echo
}

# The protected command: a small test program, seen from the machine as a Windows path.
command=$(echo "Z:$command_program" | tr / '\\')
work=$machine/C/work
mkdir -p "$work/project" "$work/runtime"
state='C:\ProgramData\Quarvel'

step "setup, once, elevated" setup --state-dir "$state" --status-file 'C:\work\setup-status.json'
show_status 'C:\work\setup-status.json' "$work/setup-status.json"

step "probe: is protection usable?" probe --state-dir "$state" --status-file 'C:\work\probe-status.json'
echo

echo "== an administrator disables the firewall rule that keeps the offline account off the network"
# The machine keeps its firewall rules in firewall.json; the only rule there is the offline one.
sed -i 's/"enabled": true/"enabled": false/' "$machine/firewall.json"
step "probe notices" probe --state-dir "$state" --status-file 'C:\work\probe-status.json'
show_status 'C:\work\probe-status.json' "$work/probe-status.json"
step "setup again repairs it" setup --state-dir "$state" --status-file 'C:\work\setup-status.json'
echo

cat >"$work/policy.json" <<'JSON'
{"version": 1, "cwd": "C:\\work\\project", "runtime_dir": "C:\\work\\runtime",
 "network": "disabled", "status_file": "C:\\work\\status.json"}
JSON
echo "== the policy C:\\work\\policy.json"
cat "$work/policy.json"
echo

step "a protected command: its output is the host's, its exit code the run's" \
  run --state-dir "$state" --policy 'C:\work\policy.json' -- \
  "$command" streams 'hello from the sandbox' 'a line on standard error' 3
show_status 'C:\work\status.json' "$work/status.json"

step "it may write inside its workspace, and nowhere else (5 = access denied)" \
  run --state-dir "$state" --policy 'C:\work\policy.json' -- \
  "$command" files 'create:C:\work\project\result.txt' 'create:C:\work\outside.txt' \
  'read:C:\ProgramData\Quarvel\credentials.json'
echo "-- C:\\work\\project now holds: $(ls "$work/project")"
echo

export QUARVEL_NATIVE_TRACE=1
step "the same run, traced (QUARVEL_NATIVE_TRACE=1)" \
  run --state-dir "$state" --policy 'C:\work\policy.json' -- \
  "$command" streams 'hello from the sandbox' '' 3
