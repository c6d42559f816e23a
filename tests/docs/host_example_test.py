#!/usr/bin/env python3
"""examples/host_example.py against the host-lane program on throwaway simulated machines.

QUARVEL_EXE names the host-lane quarvel-sandbox-windows. Each machine is a fresh directory
(WINSIM_MACHINE); the ready one is prepared with `setup` first, as a host's installer would.
"""

import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "host_example.py"
EXE = os.environ["QUARVEL_EXE"]
STATE_DIR = r"C:\ProgramData\Quarvel"


class Machine:
    def __init__(self, directory):
        self.root = pathlib.Path(directory)
        self.workspace = self.root / "host-workspace"
        self.environment = dict(os.environ, WINSIM_MACHINE=str(self.root / "machine"))
        for variable in ("QUARVEL_NATIVE_TRACE", "WINSIM_FAULTS", "WINSIM_CALL_LOG"):
            self.environment.pop(variable, None)

    def setup(self):
        done = subprocess.run([EXE, "setup", "--state-dir", STATE_DIR, "--status-file",
                               r"C:\install\status.json"], env=self.environment,
                              capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr

    def example(self, *command, network="enabled"):
        return subprocess.run([sys.executable, str(EXAMPLE), "--exe", EXE, "--state-dir", STATE_DIR,
                               "--workspace", str(self.workspace), "--network", network, "--",
                               *command], env=self.environment, capture_output=True, text=True,
                              timeout=120)


class HostExampleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.TemporaryDirectory(prefix="quarvel-example-")
        cls.ready = Machine(cls.directory.name)
        cls.ready.setup()

    @classmethod
    def tearDownClass(cls):
        cls.directory.cleanup()

    def test_before_setup_the_probe_stops_the_example_with_78_and_says_to_run_setup(self):
        with tempfile.TemporaryDirectory(prefix="quarvel-example-") as directory:
            done = Machine(directory).example("/bin/sh", "-c", "echo never")
        self.assertEqual(done.returncode, 78, done.stderr)
        self.assertEqual(done.stdout, "")
        self.assertIn("[host] failed: setup_required: Windows command protection has not been "
                      "set up.", done.stderr)
        self.assertIn("what to do: run `quarvel-sandbox-windows setup` again", done.stderr)

    def test_a_command_streams_its_output_and_its_exit_code_becomes_the_example_s(self):
        # The last stderr line looks like the program's error line: it is the command's own and
        # must pass through once the run completed.
        script = ('echo hello from the sandbox; echo a warning >&2; '
                  'echo \'{"code":"mine","message":"not a failure"}\' >&2; exit 3')
        done = self.ready.example("/bin/sh", "-c", script, network="disabled")
        self.assertEqual(done.returncode, 3, done.stderr)
        self.assertEqual(done.stdout, "hello from the sandbox\n")
        self.assertIn("a warning\n", done.stderr)
        self.assertIn('{"code":"mine","message":"not a failure"}\n', done.stderr)
        self.assertIn("[host] completed: the command exited with 3", done.stderr)
        status = json.loads((self.ready.workspace / "run-status.json").read_text())
        self.assertEqual((status["state"], status["exit_code"]), ("completed", 3))
        policy = json.loads((self.ready.workspace / "policy.json").read_text())
        self.assertEqual(policy["network"], "disabled")

    def test_a_program_that_does_not_exist_is_explained_from_the_status_file(self):
        done = self.ready.example(r"C:\missing\tool.exe", "--version")
        self.assertEqual(done.returncode, 70, done.stderr)
        self.assertEqual(done.stdout, "")
        self.assertIn("[host] state failed:", done.stderr)
        self.assertIn("[host] failed: process_create_failed: Could not create suspended protected "
                      "command. Windows error 3.", done.stderr)
        # The program's own error line is explained, not passed on as the command's output.
        self.assertNotIn('{"code":"process_create_failed"', done.stderr)


if __name__ == "__main__":
    unittest.main()
