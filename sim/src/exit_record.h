#pragma once
// Windows exit codes have 32 bits, POSIX keeps 8. A process that ends with a code that does not
// fit (ExitProcess), or that another process ends (TerminateProcess, a job), leaves the full
// code in a file of the machine directory named by its process id, where whoever waits for it
// finds the code.

#include <winsim/types.h>

#include <sys/types.h>

#include <optional>
#include <string>

namespace winsim {

void record_exit_code(pid_t pid, DWORD code);
// Reads and removes the record.
std::optional<DWORD> take_exit_record(pid_t pid);
// Removes a record left by an earlier process with the same id.
void forget_exit_record(pid_t pid);

// The Windows exit code of a child given its POSIX wait status and the record, if any.
DWORD windows_exit_code(int wait_status, std::optional<DWORD> recorded);

}  // namespace winsim
