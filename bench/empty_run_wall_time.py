#!/usr/bin/env python3
"""Wall time of an empty protected run, for one or more builds side by side.

An empty run is `run` of a command that exits at once (process_probe exit 0): what the host
waits for when the command itself costs nothing, start-up, sign-in, grants, the worker, the
release and the status file included. Each build gets a throwaway simulated machine prepared by
its own `setup`; the runs of the builds take turns, so that what else the machine does weighs
on each alike. Measure optimised builds (scripts/build-optimised.sh builds build/release).

Usage: empty_run_wall_time.py [--runs N] [LABEL=BUILD_DIR ...]
  (default: 40 runs of now=build/release). A build directory holds quarvel-sandbox-windows;
  the command is the first build's process_probe for every build.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

STATE_DIR = "C:\\ProgramData\\Quarvel"
POLICY = (
    '{"version":1,"cwd":"C:\\\\work\\\\project","runtime_dir":"C:\\\\work\\\\runtime",'
    '"network":"disabled","status_file":"C:\\\\work\\\\status.json"}'
)


def windows_path(path: Path) -> str:
    return "Z:" + str(path).replace("/", "\\")


class Build:
    def __init__(self, label: str, directory: Path, command: Path):
        self.label = label
        self.program = directory / "quarvel-sandbox-windows"
        if not os.access(self.program, os.X_OK):
            sys.exit(f"empty_run_wall_time: no program in {directory}")
        self.machine = Path(tempfile.mkdtemp(prefix="quarvel-bench-machine-"))
        self.environment = dict(os.environ, WINSIM_MACHINE=str(self.machine))
        self.environment.pop("QUARVEL_NATIVE_TRACE", None)
        self.command = windows_path(command)
        self.seconds = []

    def call(self, *arguments: str) -> float:
        start = time.perf_counter()
        done = subprocess.run([str(self.program), *arguments], env=self.environment,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
        if done.returncode != 0:
            sys.exit(f"empty_run_wall_time: {self.label}: {arguments[0]} ended with "
                     f"{done.returncode}: {done.stderr.decode(errors='replace').strip()}")
        return elapsed

    def prepare(self):
        self.call("setup", "--state-dir", STATE_DIR, "--status-file", "C:\\work\\setup.json")
        work = self.machine / "C" / "work"
        (work / "project").mkdir(parents=True, exist_ok=True)
        (work / "runtime").mkdir(exist_ok=True)
        (work / "policy.json").write_text(POLICY)
        self.run_once()  # the first run pays for the account's first sign-in on some builds

    def run_once(self) -> float:
        return self.call("run", "--state-dir", STATE_DIR, "--policy", "C:\\work\\policy.json",
                         "--", self.command, "exit", "0")

    def discard(self):
        shutil.rmtree(self.machine, ignore_errors=True)


def figures(seconds):
    ordered = sorted(seconds)
    return {
        "median": statistics.median(ordered),
        "mean": statistics.fmean(ordered),
        "min": ordered[0],
        "p90": ordered[min(len(ordered) - 1, (len(ordered) * 9) // 10)],
        "max": ordered[-1],
    }


def main():
    root = Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("builds", nargs="*", default=[f"now={root / 'build' / 'release'}"])
    options = parser.parse_args()
    named = []
    for text in options.builds:
        label, separator, directory = text.partition("=")
        if not separator:
            sys.exit(f"empty_run_wall_time: expected LABEL=BUILD_DIR, got {text!r}")
        named.append((label, Path(directory).resolve()))
    command = named[0][1] / "process_probe"
    builds = [Build(label, directory, command) for label, directory in named]
    try:
        for build in builds:
            build.prepare()
        for _ in range(max(options.runs, 1)):
            for build in builds:
                build.seconds.append(build.run_once())
    finally:
        for build in builds:
            build.discard()

    print(f"empty run (process_probe exit 0), {options.runs} runs per build, in turns; ms")
    rows = [(build.label, figures(build.seconds)) for build in builds]
    print(f"{'':8}" + "".join(f"{label:>12}" for label, _ in rows)
          + (f"{'ratio':>9}" if len(rows) > 1 else ""))
    for name in ("median", "mean", "min", "p90", "max"):
        cells = "".join(f"{values[name] * 1000:12.1f}" for _, values in rows)
        ratio = (f"{rows[-1][1][name] / rows[0][1][name]:9.2f}" if len(rows) > 1 else "")
        print(f"{name:8}{cells}{ratio}")
    if len(rows) > 1:
        print(f"(ratio: {rows[-1][0]} / {rows[0][0]})")


if __name__ == "__main__":
    main()
