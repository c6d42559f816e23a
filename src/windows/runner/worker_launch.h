#pragma once
// The worker: a second copy of this executable in its hidden worker mode, signed in as the
// protected account, started suspended, placed in a kill-on-close job and only then resumed;
// and, at the end of a run, the bounded wait for it.

#include <chrono>
#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "windows/setup/account_secret.h"

namespace quarvel {

// How long the runner waits for its worker to end after the terminal frame.
inline constexpr std::chrono::milliseconds kWorkerExitLimit{30'000};

struct LaunchedWorker {
    UniqueHandle process;
    UniqueHandle job;  // kill-on-close: closing it ends the worker and all it started
};

// This executable's own path, or the Windows error.
std::expected<WideString, std::uint32_t> own_executable_path();

// Starts `<own path> __worker --pipe <pipe_name>` as the account (domain ".", its profile
// loaded, no window, the account's default environment, no standard handles) in
// `current_directory`, suspended; puts it into a new kill-on-close job and resumes it. The worker
// never runs outside the job: every failure after its creation ends it with exit code 125 before
// returning. Failures: io_error "Could not locate native helper" (74); worker_start_failed
// (creation, or a process or thread handle that is not valid); job_create_failed,
// job_configuration_failed; job_assignment_failed; worker_resume_failed.
Result<LaunchedWorker> launch_worker(const AccountCredential& credential, std::string_view pipe_name,
                                     WideView current_directory);

// Waits up to `limit` for the worker to end and judges its exit code: 0 is success; another code,
// a time-out, or a wait or exit-code query that fails is worker_exit_failed. Closes the process
// handle and then the job handle on every path, which ends a worker that is still running.
Result<void> wait_worker(LaunchedWorker worker, std::chrono::milliseconds limit = kWorkerExitLimit);

// Ends the process with exit code 125 and waits up to 30 s for it; both results are ignored.
void terminate_worker(HANDLE process);

}  // namespace quarvel
