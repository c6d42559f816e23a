#include "windows/process/command_job.h"

#include "windows/security/os_failure.h"

namespace quarvel {

Result<UniqueHandle> create_command_job() {
    auto job = checked_handle(CreateJobObjectW(nullptr, nullptr), "job_create_failed",
                              "Could not create process job.");
    if (!job)
        return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job->get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits))
        return std::unexpected(
            os_failure("job_configuration_failed", "Could not secure process job."));
    return job;
}

Result<void> assign_to_job(HANDLE job, HANDLE process) {
    if (!AssignProcessToJobObject(job, process))
        return std::unexpected(os_failure(
            "job_assignment_failed", "Could not attach suspended process to its secured job."));
    return {};
}

void terminate_and_wait(HANDLE process) {
    if (TerminateProcess(process, kLaunchTerminatedExitCode))
        WaitForSingleObject(process, INFINITE);
}

}  // namespace quarvel
