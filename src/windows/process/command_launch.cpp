#include "windows/process/command_launch.h"

#include "windows/process/command_job.h"
#include "windows/process/output_pipe.h"
#include "windows/process/private_desktop.h"
#include "windows/process/restricted_identity.h"
#include "windows/process/worker_messages.h"
#include "windows/security/command_line_quoting.h"
#include "windows/security/os_failure.h"
#include "windows/security/secure_random.h"

namespace quarvel {
namespace {

struct StandardPipes {
    OutputPipe input;
    OutputPipe output;
    OutputPipe error;
};

Result<StandardPipes> create_standard_pipes() {
    auto input = create_output_pipe();
    if (!input)
        return std::unexpected(std::move(input.error()));
    auto output = create_output_pipe();
    if (!output)
        return std::unexpected(std::move(output.error()));
    auto error = create_output_pipe();
    if (!error)
        return std::unexpected(std::move(error.error()));
    return StandardPipes{std::move(*input), std::move(*output), std::move(*error)};
}

Result<void> keep_private(HANDLE handle) {
    if (!SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0))
        return std::unexpected(
            os_failure("stdio_pipe_failed", "Could not secure protected command output handle."));
    return {};
}

// The command inherits every inheritable handle: only its own ends may be. The worker's own
// standard handles are whatever its starter gave it, possibly inheritable (a runner's console
// or pipes): they must not reach the command either.
Result<void> keep_worker_ends_private(const StandardPipes& pipes) {
    for (const HANDLE own_end :
         {pipes.input.write.get(), pipes.output.read.get(), pipes.error.read.get()}) {
        if (auto kept = keep_private(own_end); !kept)
            return kept;
    }
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE standard = GetStdHandle(which);
        // A process may have no standard handle at all: nothing to pass on then.
        if (!is_valid_handle(standard))
            continue;
        if (auto kept = keep_private(standard); !kept)
            return kept;
    }
    return {};
}

struct CreatedProcess {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD process_id = 0;
};

Result<CreatedProcess> create_suspended(HANDLE token, WideString& command_line,
                                        const WideString& directory, PrivateDesktop& desktop,
                                        const StandardPipes& pipes) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop.path.data();
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = pipes.input.read.get();
    startup.hStdOutput = pipes.output.write.get();
    startup.hStdError = pipes.error.write.get();
    PROCESS_INFORMATION created{};
    // No environment block: the command inherits the worker's environment.
    if (!CreateProcessAsUserW(token, nullptr, command_line.data(), nullptr, nullptr, TRUE,
                              CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr,
                              directory.c_str(), &startup, &created))
        return std::unexpected(
            os_failure("process_create_failed", "Could not create suspended protected command."));
    // Owned at once, so that a bad one does not leave the other open.
    UniqueHandle thread_owner(created.hThread);
    auto process = checked_handle(created.hProcess, "process_create_failed",
                                  "Could not open protected command process.");
    if (!process)
        return std::unexpected(std::move(process.error()));
    auto thread = checked_handle(thread_owner.release(), "process_create_failed",
                                 "Could not open protected command thread.");
    if (!thread) {
        // The process exists, suspended, and nobody could ever resume it.
        terminate_and_wait(process->get());
        return std::unexpected(std::move(thread.error()));
    }
    return CreatedProcess{std::move(*process), std::move(*thread), created.dwProcessId};
}

// From the moment the process exists: the failure is formed first (it carries the failing
// call's error), then the process is ended.
Failure abandon(HANDLE process, Failure failure) {
    terminate_and_wait(process);
    return failure;
}

}  // namespace

Result<LaunchedCommand> launch_command(const CommandSpec& spec, HANDLE pipe, bool trace) {
    auto identity = create_restricted_identity(spec.capability_sid);
    if (!identity)
        return std::unexpected(std::move(identity.error()));
    if (auto sent = send_progress(pipe, trace, "restricted_token_ready"); !sent)
        return std::unexpected(std::move(sent.error()));

    auto suffix = secure_random_hex(16);
    if (!suffix)
        return std::unexpected(std::move(suffix.error()));
    auto desktop = create_private_desktop(*suffix, spec.group_sid, spec.capability_sid,
                                          identity->logon_sid.get());
    if (!desktop)
        return std::unexpected(std::move(desktop.error()));
    if (auto sent = send_progress(pipe, trace, "private_desktop_ready"); !sent)
        return std::unexpected(std::move(sent.error()));

    auto pipes = create_standard_pipes();
    if (!pipes)
        return std::unexpected(std::move(pipes.error()));
    if (auto secured = keep_worker_ends_private(*pipes); !secured)
        return std::unexpected(std::move(secured.error()));
    if (auto sent = send_progress(pipe, trace, "stdio_ready"); !sent)
        return std::unexpected(std::move(sent.error()));

    auto command_line = build_command_line(spec.arguments);
    if (!command_line)
        return std::unexpected(std::move(command_line.error()));
    auto created = create_suspended(identity->token.get(), *command_line, spec.current_directory,
                                    *desktop, *pipes);
    if (!created)
        return std::unexpected(std::move(created.error()));
    const HANDLE process = created->process.get();
    if (auto sent = send_progress(pipe, trace, "command_created"); !sent)
        return std::unexpected(abandon(process, std::move(sent.error())));

    // The worker keeps only the two read ends; with no writer left, the command's first read
    // of standard input reports end of file.
    pipes->input.read.reset();
    pipes->input.write.reset();
    pipes->output.write.reset();
    pipes->error.write.reset();

    auto job = create_command_job();
    if (!job)
        return std::unexpected(abandon(process, std::move(job.error())));
    if (auto assigned = assign_to_job(job->get(), process); !assigned)
        return std::unexpected(abandon(process, std::move(assigned.error())));
    if (auto sent = send_progress(pipe, trace, "command_job_assigned"); !sent)
        return std::unexpected(abandon(process, std::move(sent.error())));

    if (ResumeThread(created->thread.get()) == static_cast<DWORD>(-1))
        return std::unexpected(abandon(
            process, os_failure("process_resume_failed",
                                "Could not resume protected command after job assignment.")));
    if (auto sent = send_progress(pipe, trace, "command_resumed"); !sent)
        return std::unexpected(abandon(process, std::move(sent.error())));

    created->thread.reset();
    return LaunchedCommand(std::move(pipes->output.read), std::move(pipes->error.read),
                           std::move(*desktop), std::move(created->process), std::move(*job),
                           created->process_id);
}

Result<DWORD> wait_for_exit(LaunchedCommand command) {
    if (WaitForSingleObject(command.process(), INFINITE) != WAIT_OBJECT_0) {
        auto failure = os_failure("process_wait_failed", "Could not wait for protected command.");
        command.release();
        return std::unexpected(std::move(failure));
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(command.process(), &exit_code)) {
        auto failure =
            os_failure("process_status_failed", "Could not read protected command result.");
        command.release();
        return std::unexpected(std::move(failure));
    }
    command.release();
    return exit_code;
}

}  // namespace quarvel
