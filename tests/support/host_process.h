#pragma once
// Host-lane test aids around simulated processes: a fresh simulated machine per test, the
// helper programs' Windows paths, and whether a POSIX process is still alive.

#include <string>
#include <vector>

#include <sys/types.h>

namespace quarvel::testing {

// A new, empty machine directory, made the current machine through WINSIM_MACHINE.
std::string use_fresh_machine();

// The host path of a helper program built from tests/programs.
std::string test_program(const std::string& name);

// The host path as the program sees it under Wine and in the simulated host: Z:\...
std::string windows_form(const std::string& host_path);

// True when the process no longer runs (gone, or a zombie nobody has reaped yet).
bool process_has_ended(pid_t pid);

// The children of this process that still run (zombies not counted).
std::vector<pid_t> live_children();

// Waits up to `milliseconds` for process_has_ended.
bool wait_until_ended(pid_t pid, int milliseconds);

}  // namespace quarvel::testing
