#!/usr/bin/env bash
# The program's main job on a throwaway simulated Windows machine: each step prints what the host
# application would see (standard output, standard error, exit code, status file).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}/host
exe=$build/quarvel-sandbox-windows

if [ ! -x "$exe" ]; then
  "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$build" -j2 --target quarvel-sandbox-windows >/dev/null
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
  [ -s "$out" ] && { echo "-- standard output:"; cat "$out"; }
  [ -s "$err" ] && { echo "-- standard error:"; cat "$err"; }
  echo "-- exit code: $code"
  rm -f "$out" "$err"
  echo
}

show_status() {
  echo "-- status file $1:"
  cat "$2"
  echo
  echo
}

work=$machine/C/work
mkdir -p "$work/project" "$work/runtime"

step "usage on request" help
step "a malformed request" probe --state-dir 'C:\state'

cat >"$work/bad-policy.json" <<'JSON'
{"cwd": "project", "runtime_dir": "C:\\work\\runtime", "status_file": "C:\\work\\status.json"}
JSON
step "a run whose policy is refused" run --state-dir 'C:\state' --policy 'C:\work\bad-policy.json' -- cmd.exe /d /c exit 3
show_status 'C:\work\status.json' "$work/status.json"

cat >"$work/policy.json" <<'JSON'
{"version": 1, "cwd": "C:\\work\\project", "runtime_dir": "C:\\work\\runtime",
 "network": "disabled", "status_file": "C:\\work\\status.json"}
JSON
step "a run with a valid policy" run --state-dir 'C:\state' --policy 'C:\work\policy.json' -- cmd.exe /d /c exit 3
show_status 'C:\work\status.json' "$work/status.json"
