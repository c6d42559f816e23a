#!/usr/bin/env bash
# Runs a command with its output in a file, then prints the file. Wine may start background
# services from inside a test; they inherit the test's output, and a test runner reading that
# output through a pipe would wait for them. A file they keep open blocks nobody.
log=$(mktemp)
"$@" >"$log" 2>&1 </dev/null
status=$?
cat "$log"
rm -f "$log"
exit $status
