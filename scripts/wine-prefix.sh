#!/usr/bin/env bash
# Creates or removes the throwaway Wine prefix that the Wine lane runs in.
#   wine-prefix.sh up PREFIX    fresh prefix, booted, server idle
#   wine-prefix.sh down PREFIX  server stopped, prefix removed
set -euo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all
case $action in
  up)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    wine wineboot --init >/dev/null 2>&1
    wineserver -w
    # A persistent server spares every later wine start the server's start-up; `down` ends it.
    wineserver -p >/dev/null 2>&1 </dev/null
    ;;
  down)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    ;;
  *) echo "usage: $0 up|down PREFIX" >&2; exit 2 ;;
esac
