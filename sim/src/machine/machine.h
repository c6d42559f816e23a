#pragma once
// The simulated machine: a directory that holds the state every process of the machine shares.

#include <nlohmann/json.hpp>

#include <winsim/types.h>

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

namespace winsim {

// Created on first use: WINSIM_MACHINE, or a default under the user's data directory.
std::string machine_directory();

// Where the machine keeps a record of the process with id `pid`:
// <machine>/processes/<pid><extension>, the directory created on first use.
std::string process_record_path(pid_t pid, std::string_view extension);

// Replaces the file at `path` with `text`: written beside it and renamed over it, so that a
// reader never sees half a file. False, with the old file left as it was, when either fails.
bool replace_file(const std::string& path, std::string_view text);

// Runs `action` under an exclusive lock shared by every process of the machine (a flock on
// <machine>/.lock). When the lock cannot be taken, `action` does not run and the result is the
// Windows error to report to the simulated caller (also set as the thread's last error): the
// error of opening the lock file (ERROR_ACCESS_DENIED when it cannot be opened for writing),
// or ERROR_NO_SYSTEM_RESOURCES when the host refuses the lock itself. ERROR_SUCCESS otherwise.
[[nodiscard]] DWORD with_machine_lock(const std::function<void()>& action);

// Runs `change` on the JSON document stored as `name` in the machine directory (an empty
// object when absent) under the machine lock, and writes the document back when `change`
// returns true. The lock's failure as with_machine_lock's: nothing changes.
[[nodiscard]] DWORD update_machine_state(std::string_view name,
                                         const std::function<bool(nlohmann::json&)>& change);

// A copy of the document, read under the same lock, or without it when the lock cannot be
// taken: documents are replaced by renames, so a reader never sees half of one.
nlohmann::json read_machine_state(std::string_view name);

}  // namespace winsim
