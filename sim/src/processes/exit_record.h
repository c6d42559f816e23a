#pragma once
// Windows exit codes have 32 bits, POSIX keeps 8, and only a parent can wait for a POSIX
// process. A process that ends through ExitProcess, or that another process ends
// (TerminateProcess), leaves the full code in a file of the machine directory named by its
// process id, with its start time to tell it from a later process with the same id; a parent
// that reaps a child without such a record writes one. Whoever holds a handle to the process,
// its creator or a process that opened it by id, finds the code there.

#include <winsim/types.h>

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace winsim {

// Records the code of the process that started at `start` as `pid`.
void record_exit_code(pid_t pid, std::uint64_t start, DWORD code);
// The code recorded for that process, if any.
std::optional<DWORD> recorded_exit_code(pid_t pid, std::uint64_t start);
// Removes a record left by an earlier process with the same id.
void forget_exit_record(pid_t pid);

// The Windows exit code of a child given its POSIX wait status and the record, if any.
DWORD windows_exit_code(int wait_status, std::optional<DWORD> recorded);

}  // namespace winsim
