#pragma once
// Telling a process apart from a later one that reuses its id: its start time.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace winsim {

// The text of /proc/<pid>/stat; nothing when the process is gone, also when it goes while the
// file is read (the read then fails with ESRCH, which a C++ stream turns into an exception).
std::optional<std::string> process_stat_text(pid_t pid);

// Clock ticks since boot at which the process started; nothing when it is gone. A zombie
// still answers: it has ended but its id is not free yet.
std::optional<std::uint64_t> process_start_time(pid_t pid);

// The process exists, runs, and is the one that started at `start_time`.
bool is_same_live_process(pid_t pid, std::uint64_t start_time);

// A descriptor that becomes readable when the process ends (close-on-exec), or -1 where the
// kernel has no pidfd_open; the caller then polls the process's liveness instead.
int open_pidfd(pid_t pid);

// The wait status of the process that started at `start_time`, while it has ended but its
// parent has not reaped it yet.
std::optional<int> zombie_wait_status(pid_t pid, std::uint64_t start_time);

}  // namespace winsim
