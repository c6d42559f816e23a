#pragma once
// The job that holds a protected process: closing its last handle ends every process in it.
// The worker puts its command in one; the runner puts the worker in one the same way.

#include "cli/failure.h"
#include "platform/unique_resource.h"

namespace quarvel {

// An unnamed job whose only limit is kill-on-close. Codes job_create_failed and
// job_configuration_failed (the job is closed then).
Result<UniqueHandle> create_command_job();

// Code job_assignment_failed.
Result<void> assign_to_job(HANDLE job, HANDLE process);

// The exit code of a process that is ended because its launch failed.
inline constexpr UINT kLaunchTerminatedExitCode = 125;

// Ends the process with exit code 125 and waits for it to be gone. When Windows refuses to
// end it, it does not wait: a process that cannot be ended would otherwise hold the caller
// forever. Results are otherwise ignored: the caller is already failing.
void terminate_and_wait(HANDLE process);

}  // namespace quarvel
