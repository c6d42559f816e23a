#include "windows/runner/worker_launch.h"

#include <vector>

#include "windows/process/command_job.h"
#include "windows/process/hidden_console.h"
#include "windows/security/command_line_quoting.h"
#include "windows/security/os_failure.h"

namespace quarvel {
namespace {

constexpr DWORD kWorkerCreationFlags =
    CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW;
constexpr DWORD kTerminateWaitMilliseconds = 30'000;

// Terminates the suspended worker before a launch failure is returned: it must never run
// outside its job, nor stay behind suspended.
Failure abandon(HANDLE process, Failure failure) {
    terminate_worker(process);
    return failure;
}

}  // namespace

std::expected<WideString, std::uint32_t> own_executable_path() {
    // The path may exceed MAX_PATH; a buffer that was filled completely may have been cut short.
    std::vector<WCHAR> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
        if (length < buffer.size())
            return WideString(buffer.data(), length);
        if (buffer.size() >= 32'768)  // the longest path Windows has
            return std::unexpected(static_cast<std::uint32_t>(ERROR_INSUFFICIENT_BUFFER));
        buffer.resize(buffer.size() * 2);
    }
}

void terminate_worker(HANDLE process) {
    TerminateProcess(process, kLaunchTerminatedExitCode);
    WaitForSingleObject(process, kTerminateWaitMilliseconds);
}

Result<LaunchedWorker> launch_worker(const AccountCredential& credential,
                                     std::string_view pipe_name, WideView current_directory) {
    const auto executable = own_executable_path();
    if (!executable)
        return std::unexpected(io_failure("Could not locate native helper", executable.error()));
    auto command_line = build_command_line(
        {narrow_lossy(*executable), "__worker", "--pipe", std::string(pipe_name)});
    if (!command_line)
        return std::unexpected(command_line.error());

    const WideString user = to_wide(credential.username);
    const WideString domain = to_wide(".");
    const WideString password = to_wide(credential.password);
    const WideString directory(current_directory);
    STARTUPINFOW startup = hidden_console_startup();
    PROCESS_INFORMATION created{};
    if (!CreateProcessWithLogonW(user.c_str(), domain.c_str(), password.c_str(), LOGON_WITH_PROFILE,
                                 executable->c_str(), command_line->data(), kWorkerCreationFlags,
                                 nullptr, directory.c_str(), &startup, &created))
        return std::unexpected(os_failure("worker_start_failed",
                                          "Could not create suspended protected command worker."));
    UniqueHandle thread_owner(created.hThread);
    auto process = checked_handle(created.hProcess, "worker_start_failed",
                                  "Could not open protected command worker.");
    if (!process)
        return std::unexpected(process.error());
    auto thread = checked_handle(thread_owner.release(), "worker_start_failed",
                                 "Could not open protected command worker thread.");
    if (!thread)
        return std::unexpected(abandon(process->get(), thread.error()));

    auto job = create_command_job();
    if (!job)
        return std::unexpected(abandon(process->get(), job.error()));
    if (auto assigned = assign_to_job(job->get(), process->get()); !assigned)
        return std::unexpected(abandon(process->get(), assigned.error()));
    if (ResumeThread(thread->get()) == static_cast<DWORD>(-1)) {
        // Built first, so that it carries ResumeThread's error rather than a later call's.
        Failure resume = os_failure("worker_resume_failed",
                                    "Could not resume protected command worker after job "
                                    "assignment.");
        return std::unexpected(abandon(process->get(), std::move(resume)));
    }
    return LaunchedWorker{std::move(*process), std::move(*job)};
}

Result<void> wait_worker(LaunchedWorker worker, std::chrono::milliseconds limit) {
    // Locals close in reverse order of declaration: the process handle, then the job.
    UniqueHandle job = std::move(worker.job);
    UniqueHandle process = std::move(worker.process);
    const DWORD waited = WaitForSingleObject(process.get(), static_cast<DWORD>(limit.count()));
    if (waited == WAIT_TIMEOUT)
        return std::unexpected(
            fixed_failure("worker_exit_failed",
                          "Protected command worker did not exit after reporting completion.",
                          exit_code::internal));
    if (waited != WAIT_OBJECT_0)
        return std::unexpected(
            os_failure("worker_exit_failed", "Could not wait for protected command worker."));
    DWORD exit_status = 0;
    if (!GetExitCodeProcess(process.get(), &exit_status))
        return std::unexpected(
            os_failure("worker_exit_failed", "Could not read protected command worker result."));
    if (exit_status != 0)
        return std::unexpected(formatted_failure("worker_exit_failed", exit_code::internal,
                                                 "Protected command worker exited with code ",
                                                 static_cast<std::uint32_t>(exit_status), "."));
    return {};
}

}  // namespace quarvel
