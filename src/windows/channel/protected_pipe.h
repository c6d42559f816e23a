#pragma once
// The one-run named pipe between the runner (server end) and the worker (client end): local
// only, one instance, open to the setup owner, the run's protected account and LocalSystem.

#include <chrono>
#include <string>
#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"

namespace quarvel {

inline constexpr std::string_view kProtectedPipePrefix = "\\\\.\\pipe\\quarvel-protected-";

// How long the runner waits for its worker to connect.
inline constexpr std::chrono::milliseconds kWorkerConnectLimit{30'000};

struct ProtectedPipe {
    std::string name;  // kProtectedPipePrefix + 48 lowercase hexadecimal digits
    UniqueHandle handle;
};

// Creates the pipe under a fresh random name, in no-wait listening mode, with a protected DACL
// of three generic-all grants: `owner_sid`, `account_sid` (standard SID text) and LocalSystem.
// Failures: random_generation_failed; ipc_acl_failed when the access rules cannot be built
// (SID text that is not a SID included); ipc_create_failed when the pipe cannot be created, a
// pipe of the same name existing included. Nothing is left allocated on any path.
Result<ProtectedPipe> create_protected_pipe(std::string_view owner_sid,
                                            std::string_view account_sid);

// The same, under a name the caller chose (create_protected_pipe's steps after the name).
Result<UniqueHandle> create_protected_pipe_named(std::string_view name, std::string_view owner_sid,
                                                 std::string_view account_sid);

// Waits until the worker has connected, polling every 10 ms, then switches the pipe to
// blocking byte mode. Fails with worker_start_failed as soon as `worker` (a process handle)
// has ended, and with ipc_connect_failed when `limit` passes, when Windows reports anything but
// "listening" or "connected and gone", or when blocking mode cannot be set.
Result<void> accept_worker(HANDLE pipe, HANDLE worker,
                           std::chrono::milliseconds limit = kWorkerConnectLimit);

// Opens the runner's pipe as its client (read and write, blocking byte mode). A busy instance
// is waited for (WaitNamedPipeW, 10 s) and tried again, three attempts in all. Failures are
// ipc_connect_failed with the Windows error where there is one.
Result<UniqueHandle> open_protected_pipe(std::string_view name);

}  // namespace quarvel
