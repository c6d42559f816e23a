#!/usr/bin/env python3
"""The cross-built self-test under Wine, as far as Wine lets it go.

Wine has no local accounts, secondary sign-in or firewall objects, so `setup` cannot finish
there and the self-test stops early. It runs twice, as a user would: once with --setup (which
stops where Wine's setup does) and once without (which stops where `probe` does, at
setup_required). This test prints the self-test's table and where it stopped each time. It holds
only what any Windows must show: the program runs, writes its report as JSON with the same form,
removes its workspace and ends with one of its own exit codes; where it stops is Wine's business
and is not asserted."""

import argparse
import json
import os
import subprocess
import sys
import tempfile


def windows_path(host_path):
    return "Z:" + os.path.abspath(host_path).replace("/", "\\")


def run_once(args, scratch, extra):
    report_path = os.path.join(scratch, "report.json")
    command = ["wine", args.selftest, "--program", windows_path(args.program),
               "--state-dir", windows_path(os.path.join(scratch, "state")),
               "--report", windows_path(report_path), "--timing-files", "none"] + extra
    print("$", " ".join(command[1:]))
    completed = subprocess.run(command, capture_output=True, text=True, errors="replace",
                               timeout=240)
    sys.stdout.write(completed.stdout)
    problems = []
    if completed.returncode not in (0, 1, 2):
        problems.append(f"exit code {completed.returncode}: {completed.stderr}")
    try:
        with open(report_path, encoding="utf-8") as file:
            report = json.load(file)
    except (OSError, ValueError) as error:
        return problems + [f"no report: {error}"]
    for key in ("version", "checks", "timings", "stopped", "left_behind", "summary"):
        if key not in report:
            problems.append(f"the report has no {key}")
    if report.get("left_behind"):
        problems.append(f"left behind: {report['left_behind']}")
    print("Under Wine the self-test",
          f"stopped at {report['stopped']}" if report.get("stopped") else "made every check",
          f"(exit code {completed.returncode}).\n")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--selftest", required=True)
    parser.add_argument("--program", required=True)
    args = parser.parse_args()

    problems = []
    for extra in (["--setup"], []):
        with tempfile.TemporaryDirectory(prefix="quarvel-selftest-wine-") as scratch:
            problems += run_once(args, scratch, extra)
    for problem in problems:
        print("PROBLEM:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
