#!/usr/bin/env python3
"""A host application's side of quarvel-sandbox-windows, in one file to copy (standard library only).

It does what a host does around one protected command (docs/host-protocol.md describes each step):

  1. probe: is protection usable now? If not, say why and what to do.
  2. write a policy: where the command runs, what it may write and read, whether it may use the
     network, where the status file goes.
  3. run the command, passing its standard output and standard error on as they come, and
     watching the status file for the moment the command starts.
  4. read the final status file and explain the outcome: the command's own exit code, or the
     failure with what it means and what to do about it.

Usage:
  host_example.py --exe PATH --state-dir DIR --workspace DIR [--network enabled|disabled]
                  [--trace] -- COMMAND [ARGUMENT...]

  --exe        quarvel-sandbox-windows.exe
  --state-dir  the state directory that setup prepared, exactly as given to setup
  --workspace  a directory of this host; the example makes project\\ (the command's working
               directory), project\\out\\ (writable), runtime\\, policy.json and the status
               files in it
  --network    enabled (default) or disabled
  --trace      set QUARVEL_NATIVE_TRACE=1 and show the stages of the run

The command's output goes to this program's standard output and standard error unchanged; what
the host itself says goes to standard error, each line starting with "[host]". The exit code is
the command's own exit code when it ran to the end, otherwise the exit code of
quarvel-sandbox-windows (64, 70, 74, 78; see EXIT_CODES).
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import threading
import time

# ----------------------------------------------------------------------------- what codes mean

# The process exit codes of quarvel-sandbox-windows. For `run`, any other value, and any of
# these when the status file says "completed", is the protected command's own exit code.
EXIT_CODES = {
    0: "success: the status document says ready (probe, setup) or completed (run)",
    1: "a status other than ready or completed was published (not produced by this version)",
    64: "invalid request: the command line, the policy, a policy location, or a message",
    70: "an internal or Windows step failed; the status file and the error line say which",
    74: "a file could not be read or written (the policy, the status file, the command's output)",
    78: "protection must be set up (again), or Windows Firewall does not enforce the offline "
        "rule; the code says which",
}

# What a host does about a failure, by kind.
FIX_REQUEST = "fix the request (command line, policy or paths); retrying unchanged fails again"
RUN_SETUP = "run `quarvel-sandbox-windows setup` again, elevated; then probe"
ELEVATE = "run setup from an elevated (administrator) prompt"
CHECK_FILES = "check the path and its permissions named in the message, then retry"
CHECK_MACHINE = ("a Windows call failed; retry once, then report the message (it carries the "
                 "Windows error number)")
RETRY = "the protected worker or its channel failed; retry the run, report it if it persists"
REPORT = "should not happen; report the message"
TURN_ON_FIREWALL = ("turn Windows Firewall on for every network profile, or have the administrator "
                    "let local firewall rules apply; then probe (setup cannot fix this)")

# Every failure code the program can produce: (what happened, what to do). The code is the
# "code" of the status document and of the JSON error line; the message says more.
FAILURE_CODES = {
    # request and files
    "invalid_request": ("the command line, the policy, a policy location or a protected message "
                        "was refused", FIX_REQUEST),
    "io_error": ("a file could not be read or written: the policy, the status file, the setup "
                 "files, a workspace location, or the command's forwarded output", CHECK_FILES),
    "command_line_unavailable": ("Windows did not hand over the process command line",
                                 CHECK_MACHINE),
    "status_serialization_failed": ("the status document could not be written as JSON", REPORT),
    "settings_serialization_failed": ("a setup file could not be written as JSON", REPORT),
    "serialization_failed": ("a JSON line could not be written; the line carries only this code",
                             REPORT),
    # setup state
    "setup_required": ("protection is not set up, its files are stale or damaged, the accounts "
                       "changed, or the firewall rule must be refreshed", RUN_SETUP),
    "sandbox_unavailable": ("protection is unavailable (reserved: not produced by this "
                            "version)", REPORT),
    "administrator_required": ("setup ran without administrator approval", ELEVATE),
    "elevation_check_failed": ("setup could not tell whether it runs elevated", CHECK_MACHINE),
    "owner_lookup_failed": ("setup could not read the current user", CHECK_MACHINE),
    "token_open_failed": ("a process could not open its own identity", CHECK_MACHINE),
    "reparse_path_rejected": ("the state directory, the runtime directory or a workspace location "
                              "is a symbolic link or junction", FIX_REQUEST),
    "state_acl_failed": ("the state directory's access list could not be set", CHECK_MACHINE),
    "group_setup_failed": ("the QuarvelSandboxUsers group could not be created", CHECK_MACHINE),
    "account_setup_failed": ("a sandbox account could not be created or its password reset",
                             CHECK_MACHINE),
    "account_group_failed": ("a sandbox account could not join its groups", CHECK_MACHINE),
    "account_lookup_failed": ("a sandbox account or group is missing, or a name could not be "
                              "resolved", RUN_SETUP),
    "account_logon_failed": ("a sandbox account could not sign in: wrong password, disabled, "
                             "locked out, or denied sign-in", RUN_SETUP),
    "account_verification_failed": ("a sandbox account's groups are unsafe (an administrator) or "
                                     "could not be checked", RUN_SETUP),
    "system_command_unavailable": ("cmd.exe was not found in the system directory", REPORT),
    "profile_initialization_failed": ("Windows could not create a sandbox account's profile",
                                      CHECK_MACHINE),
    "system_clock_failed": ("the system clock is set before 1970", CHECK_MACHINE),
    "credential_protection_failed": ("a password could not be protected", CHECK_MACHINE),
    "credential_unprotect_failed": ("a stored password could not be unlocked on this machine",
                                    RUN_SETUP),
    "credential_decode_failed": ("an unlocked password is not valid text", RUN_SETUP),
    "random_generation_failed": ("the system random generator failed", CHECK_MACHINE),
    "invalid_sid": ("a security identifier could not be parsed (for example --owner-sid)",
                    FIX_REQUEST),
    "sid_copy_failed": ("a security identifier could not be copied", CHECK_MACHINE),
    "sid_conversion_failed": ("a security identifier could not be written as text",
                              CHECK_MACHINE),
    "firewall_unavailable": ("the Windows Firewall could not be reached", CHECK_MACHINE),
    "firewall_rule_failed": ("the offline firewall rule could not be created or changed",
                             CHECK_MACHINE),
    "firewall_rule_verify_failed": ("the offline firewall rule could not be read", CHECK_MACHINE),
    "firewall_disabled": ("Windows Firewall is off for a current network profile, or group "
                          "policy keeps local rules from applying: the offline rule blocks "
                          "nothing", TURN_ON_FIREWALL),
    # access lists of a run
    "capability_sid_failed": ("the run's capability SID could not be made", REPORT),
    "acl_lock_failed": ("the session-wide access lock could not be taken", CHECK_MACHINE),
    "acl_read_failed": ("a workspace location's access list could not be read", CHECK_FILES),
    "acl_update_failed": ("a workspace location's access list could not be changed",
                          CHECK_FILES),
    "runtime_acl_failed": ("the runtime directory's access list could not be set", CHECK_FILES),
    # runner and worker
    "ipc_acl_failed": ("the protected channel's access rules could not be made", CHECK_MACHINE),
    "ipc_create_failed": ("the protected channel could not be created", RETRY),
    "ipc_connect_failed": ("the worker did not connect to the protected channel in time", RETRY),
    "ipc_closed": ("the other end closed the protected channel (the worker died)", RETRY),
    "ipc_read_failed": ("the protected channel could not be read", RETRY),
    "ipc_write_failed": ("the protected channel could not be written", RETRY),
    "ipc_lock_failed": ("the worker's channel lock broke", RETRY),
    "ipc_serialization_failed": ("a protected message could not be written as JSON (a policy "
                                 "path that is not valid Unicode)", FIX_REQUEST),
    "worker_start_failed": ("the worker could not be started as the sandbox account, or ended "
                            "before it connected", RETRY),
    "worker_resume_failed": ("the worker could not be resumed", RETRY),
    "worker_exit_failed": ("the worker did not end cleanly after the command", RETRY),
    "worker_identity_failed": ("the worker does not run as the expected sandbox account and "
                               "group", RUN_SETUP),
    "job_create_failed": ("a kill-on-close job could not be created", CHECK_MACHINE),
    "job_configuration_failed": ("a job could not be made kill-on-close", CHECK_MACHINE),
    "job_assignment_failed": ("a process could not be put in its job", CHECK_MACHINE),
    "token_logon_sid_failed": ("the worker's logon SID could not be read", CHECK_MACHINE),
    "token_restriction_failed": ("the command's restricted token could not be made",
                                 CHECK_MACHINE),
    "token_privilege_failed": ("the command's privileges could not be set", CHECK_MACHINE),
    "token_default_access_failed": ("the command's default access list could not be set",
                                    CHECK_MACHINE),
    "window_station_name_failed": ("the worker's window station could not be named",
                                   CHECK_MACHINE),
    "user_object_acl_failed": ("the private desktop's access list could not be made",
                               CHECK_MACHINE),
    "desktop_create_failed": ("the private desktop could not be created", CHECK_MACHINE),
    "stdio_pipe_failed": ("the command's standard streams could not be set up", CHECK_MACHINE),
    "command_environment_failed": ("the command's temporary directory could not be set in its "
                                   "environment", CHECK_MACHINE),
    "process_create_failed": ("the command could not be started: most often the program does "
                              "not exist or the sandbox account may not run it", FIX_REQUEST),
    "process_resume_failed": ("the command could not be resumed", CHECK_MACHINE),
    "process_wait_failed": ("the wait for the command failed", CHECK_MACHINE),
    "process_status_failed": ("the command's exit code could not be read", CHECK_MACHINE),
    "output_forward_failed": ("forwarding the command's output stopped", RETRY),
}

STATES = {
    "ready": "protection is usable",
    "setup_required": "protection must be set up (again)",
    "running": "the command is running under protection",
    "completed": "the command ran to its end under protection",
    "failed": "the operation failed; code and message say why",
    "unavailable": "protection is unavailable (not produced by this version)",
}

TRACE_PREFIX = "Quarvel native trace: "


def say(text):
    print(f"[host] {text}", file=sys.stderr, flush=True)


def explain_failure(code, message, exit_code):
    meaning, action = FAILURE_CODES.get(code, ("an unknown code (a newer program?)", REPORT))
    say(f"failed: {code}: {message}")
    say(f"  meaning: {meaning}")
    say(f"  exit code {exit_code}: {EXIT_CODES.get(exit_code, 'unknown')}")
    say(f"  what to do: {action}")


# ----------------------------------------------------------------------------- paths and files

def program_path(path):
    """A path of this host as quarvel-sandbox-windows takes it: a Windows path.

    On Windows a path is already one. Elsewhere (the simulated Windows host that this example is
    tested on, or Wine) the host's root directory appears as drive Z:.
    """
    path = pathlib.Path(path).absolute()
    if os.name == "nt":
        return str(path)
    return "Z:" + str(path).replace("/", "\\")


def read_status(path):
    """The status document, or None when there is none. The program replaces the file whole (it
    writes a temporary file and renames it), so a reader never sees half a document."""
    try:
        return json.loads(pathlib.Path(path).read_text(encoding="utf-8"))
    except FileNotFoundError:
        return None


def error_line(text):
    """The program's JSON error line {"code":...,"message":...}, or None for any other line."""
    try:
        value = json.loads(text)
    except ValueError:
        return None
    if isinstance(value, dict) and sorted(value) == ["code", "message"]:
        return value
    return None


# ----------------------------------------------------------------------------- the steps

def probe(exe, state_dir, workspace):
    """Step 1. Returns True when protection is ready; otherwise explains and returns the exit
    code to end with."""
    status_file = workspace / "probe-status.json"
    status_file.unlink(missing_ok=True)
    done = subprocess.run([exe, "probe", "--state-dir", state_dir,
                           "--status-file", program_path(status_file)],
                          capture_output=True, text=True, encoding="utf-8")
    if done.returncode == 0:
        # Standard output holds the same document as the status file.
        say(f"probe: {json.loads(done.stdout)['message']}")
        return True
    status = read_status(status_file)
    lines = done.stderr.strip().splitlines()
    failure = status or (error_line(lines[-1]) if lines else None) or {}
    say(f"probe: state {status['state'] if status else '(no status file)'}")
    explain_failure(failure.get("code", "?"), failure.get("message", done.stderr.strip()),
                    done.returncode)
    return done.returncode


def write_policy(workspace, network):
    """Step 2. The policy names absolute paths; every location must exist before the run."""
    project = workspace / "project"
    (project / "out").mkdir(parents=True, exist_ok=True)
    (workspace / "runtime").mkdir(exist_ok=True)
    status_file = workspace / "run-status.json"
    policy = {
        "version": 1,
        "cwd": program_path(project),                       # always writable
        "writable_roots": [program_path(project / "out")],
        "readable_roots": [],                               # e.g. a toolchain directory
        "runtime_dir": program_path(workspace / "runtime"),
        "network": network,                                 # "enabled" or "disabled"
        "status_file": program_path(status_file),
    }
    policy_file = workspace / "policy.json"
    policy_file.write_text(json.dumps(policy, indent=2), encoding="utf-8")
    return policy_file, status_file


def copy_stdout(source):
    """The command's standard output, passed on byte for byte as it arrives."""
    while chunk := os.read(source.fileno(), 65536):
        sys.stdout.buffer.write(chunk)
        sys.stdout.buffer.flush()


def copy_stderr(source, held):
    """The command's standard error, passed on line by line. Trace lines are the program's own.
    Lines shaped like the program's error line are held back until another line follows: at the
    end, the program's error lines come last, and run() decides what they were."""
    for raw in iter(source.readline, b""):
        text = raw.decode("utf-8", errors="replace").rstrip("\r\n")
        if text.startswith(TRACE_PREFIX):
            say(f"trace: {text[len(TRACE_PREFIX):]}")
            continue
        if error_line(text) is not None:
            held.append(raw)
            continue
        for line in held:
            sys.stderr.buffer.write(line)
        held.clear()
        sys.stderr.buffer.write(raw)
        sys.stderr.buffer.flush()


def watch_status(status_file, process):
    """While the run goes on: report the command's start (state running, its process id)."""
    while process.poll() is None:
        status = read_status(status_file)
        if status and status.get("state") == "running":
            say(f"running: the command's process id is {status['process_id']}")
            return
        time.sleep(0.02)


def run(exe, state_dir, policy_file, status_file, command, trace):
    """Step 3 and 4. Returns the exit code to end with."""
    # A status file left by an earlier run must not pass for this run's.
    status_file.unlink(missing_ok=True)
    environment = dict(os.environ)
    if trace:
        environment["QUARVEL_NATIVE_TRACE"] = "1"   # exactly "1"; anything else is off
    else:
        environment.pop("QUARVEL_NATIVE_TRACE", None)
    process = subprocess.Popen([exe, "run", "--state-dir", state_dir,
                                "--policy", program_path(policy_file), "--", *command],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=environment)
    held = []
    copiers = [threading.Thread(target=copy_stdout, args=(process.stdout,)),
               threading.Thread(target=copy_stderr, args=(process.stderr, held)),
               threading.Thread(target=watch_status, args=(status_file, process))]
    for copier in copiers:
        copier.start()
    exit_code = process.wait()
    for copier in copiers:
        copier.join()

    status = read_status(status_file)
    if status and status["state"] == "completed":
        for line in held:                       # the command's own lines after all
            sys.stderr.buffer.write(line)
        sys.stderr.buffer.flush()
        # The exit code is the command's own: 70 here is the command's 70, not a failure. The
        # status file gives it as a signed 32-bit number (-1073741819 for 0xC0000005).
        say(f"completed: the command exited with {status['exit_code']}")
        return exit_code

    errors = [error_line(line.decode("utf-8", errors="replace")) for line in held]
    if status is None:
        # No status file: the policy itself could not be read or parsed, so the program did
        # not know where to write one. The error line is the only report. (When the status
        # file cannot be written, the error lines say that too.)
        failure = errors[-1] if errors else {"code": "?", "message": "no status, no error line"}
        say("no status file: the policy could not be read, or the status file not written")
    else:
        # The status file and the last error line carry the same code and message.
        failure = status
        say(f"state {status['state']}: {STATES.get(status['state'], 'unknown state')}")
    explain_failure(failure["code"], failure["message"], exit_code)
    return exit_code


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--workspace", required=True, type=pathlib.Path)
    parser.add_argument("--network", choices=("enabled", "disabled"), default="enabled")
    parser.add_argument("--trace", action="store_true")
    parser.add_argument("command", nargs="+", help="the command and its arguments, after --")
    options = parser.parse_args()

    workspace = options.workspace.absolute()
    workspace.mkdir(parents=True, exist_ok=True)
    ready = probe(options.exe, options.state_dir, workspace)
    if ready is not True:
        return ready
    policy_file, status_file = write_policy(workspace, options.network)
    return run(options.exe, options.state_dir, policy_file, status_file, options.command,
               options.trace)


if __name__ == "__main__":
    sys.exit(main())
