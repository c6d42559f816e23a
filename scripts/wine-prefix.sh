#!/usr/bin/env bash
# Creates or removes the throwaway Wine prefix that the Wine lane runs in.
#   wine-prefix.sh up PREFIX    fresh prefix, booted, with a persistent server and its services
#   wine-prefix.sh down PREFIX  server and everything it started stopped, prefix removed
set -euo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all
case $action in
  up)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # The server is made persistent before the prefix boots, so the services that booting
    # starts stay up for the whole lane. Otherwise the first test to start a Wine process would
    # start them again, and they would keep that test's output pipes open long after it ended.
    # Everything here is detached from the caller's output for the same reason.
    wineserver -p >/dev/null 2>&1 </dev/null
    wine wineboot --init >/dev/null 2>&1 </dev/null
    ;;
  down)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    ;;
  *) echo "usage: $0 up|down PREFIX" >&2; exit 2 ;;
esac
