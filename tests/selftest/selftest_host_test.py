#!/usr/bin/env python3
"""The self-test against a throwaway simulated machine, as a user would run it once: setup
first, then every check. By default every check that guards confinement must hold; with
--expect-failures (a deliberately weakened build of the program) the self-test must fail, and
each named check must be among those that caught it, in every run that makes it.

The checks that need what the simulated host has no model of (the registry, sockets, the
clipboard, console windows) must say "not available here", never pass. The timing workspaces
are kept small: their real sizes are for real machines."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

# What the simulated host cannot show, in each of the two protected runs.
UNAVAILABLE = {
    "registry.machine.write",
    "registry.user.write",
    "network.loopback.connect",
    "network.address.connect",
    "network.lookup",
    "desktop.clipboard",
    "console.window",
}
MODES = ("network enabled", "network disabled")


def run_selftest(selftest, program, machine):
    profile = os.path.join(machine, "C", "Users", "Administrator")
    os.makedirs(profile)
    os.makedirs(os.path.join(machine, "C", "selftest"))
    environment = dict(os.environ, WINSIM_MACHINE=machine,
                       USERPROFILE="C:\\Users\\Administrator")
    environment.pop("WINSIM_FAULTS", None)
    command = [selftest, "--program", program, "--state-dir", "C:\\ProgramData\\Quarvel",
               "--setup", "--work-dir", "C:\\selftest", "--report", "C:\\selftest-report.json",
               "--timing-files", "20,200"]
    completed = subprocess.run(command, env=environment, capture_output=True, text=True,
                               timeout=240)
    sys.stdout.write(completed.stdout)
    sys.stderr.write(completed.stderr)
    with open(os.path.join(machine, "C", "selftest-report.json"), encoding="utf-8") as file:
        report = json.load(file)
    return completed.returncode, report


def failures(report):
    return [(check.get("mode", ""), check["id"]) for check in report["checks"]
            if check["verdict"] == "FAIL"]


def check_unavailable(report, problems):
    for mode in MODES:
        unavailable = {check["id"] for check in report["checks"]
                       if check.get("mode") == mode and check["verdict"] == "not available here"}
        if unavailable != UNAVAILABLE:
            problems.append(f"[{mode}] not available here: {sorted(unavailable)}, "
                            f"expected {sorted(UNAVAILABLE)}")
    for check in report["checks"]:
        if check["id"] in UNAVAILABLE and check["verdict"] == "pass":
            problems.append(f"{check['id']} passed without a model of its call")


def check_timings(report, problems):
    sizes = [timing["files"] for timing in report["timings"]]
    if sizes != [0, 0, 20, 200]:
        problems.append(f"timings for {sizes}, expected probe, 0, 20 and 200 files")
    for timing in report["timings"][1:]:
        if timing["grant_ms"] is None or timing["release_ms"] is None:
            problems.append(f"{timing['what']}: no grant or release time")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--selftest", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--expect-failures", default="")
    args = parser.parse_args()
    expected_failures = [name for name in args.expect_failures.split(",") if name]

    machine = tempfile.mkdtemp(prefix="quarvel-selftest-machine-")
    problems = []
    try:
        exit_code, report = run_selftest(args.selftest, args.program, machine)
        if report["stopped"] is not None:
            problems.append(f"the self-test stopped: {report['stopped']}")
        if report["left_behind"]:
            problems.append(f"left behind: {report['left_behind']}")
        check_unavailable(report, problems)
        check_timings(report, problems)
        failed = failures(report)
        if expected_failures:
            if exit_code != 1:
                problems.append(f"exit code {exit_code}, expected 1")
            for name in expected_failures:
                for mode in MODES:
                    if (mode, name) not in failed:
                        problems.append(f"[{mode}] {name} did not fail")
        else:
            if exit_code != 0:
                problems.append(f"exit code {exit_code}, expected 0")
            problems += [f"[{mode}] {name} failed" for mode, name in failed]
    finally:
        shutil.rmtree(machine, ignore_errors=True)
    for problem in problems:
        print("PROBLEM:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
