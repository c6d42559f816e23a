#include "windows/process/worker_operation.h"

#include <memory>
#include <optional>
#include <string>

#include "cli/console.h"
#include "documents/command_temp_directory.h"
#include "documents/worker_request.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"
#include "windows/channel/shared_channel.h"
#include "windows/process/command_environment.h"
#include "windows/process/command_launch.h"
#include "windows/process/forwarding_thread.h"
#include "windows/process/worker_identity.h"
#include "windows/process/worker_messages.h"

namespace quarvel {
namespace {

// The command inherits the mode (it is created without CREATE_DEFAULT_ERROR_MODE): no dialog
// may wait for a user that a protected command does not have.
constexpr UINT kWorkerErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX;

// Steps 3 to 9 of the run from the request's body, up to the running command. Every failure
// here leaves no command running: launch_command has already ended any process it created.
Result<LaunchedCommand> start_command(HANDLE pipe, std::string_view body) {
    auto request = parse_message<WorkerRequest>(body);
    if (!request)
        return std::unexpected(std::move(request.error()));
    const bool trace = request->trace;
    if (auto sent = send_progress(pipe, trace, "request_received"); !sent)
        return std::unexpected(std::move(sent.error()));
    if (auto valid = validate_worker_request(*request); !valid)
        return std::unexpected(std::move(valid.error()));
    if (auto sent = send_progress(pipe, trace, "request_validated"); !sent)
        return std::unexpected(std::move(sent.error()));
    if (auto verified = verify_worker_identity(request->account_sid, request->base_sid); !verified)
        return std::unexpected(std::move(verified.error()));
    if (auto sent = send_progress(pipe, trace, "identity_verified"); !sent)
        return std::unexpected(std::move(sent.error()));
    if (auto temp = use_temp_directory(
            command_temp_directory(request->policy.runtime_dir, request->capability_sid));
        !temp)
        return std::unexpected(std::move(temp.error()));

    CommandSpec spec{std::move(request->command), std::move(request->policy.cwd),
                     std::move(request->base_sid), std::move(request->capability_sid)};
    // The request is released here, before the command runs.
    request = std::unexpected(Failure{});
    return launch_command(spec, pipe, trace);
}

Failure consumed(std::string_view stream) {
    return fixed_failure("stdio_pipe_failed",
                         "Protected " + std::string(stream) + " was already consumed.",
                         exit_code::internal);
}

// Path C: the forwarding threads run; they are let go, never joined, and end with the process.
// The command, if still held, is released first: its job ends it.
std::int32_t fail_while_forwarding(SharedChannel& channel, std::optional<LaunchedCommand>& command,
                                   ForwardingThread* output, ForwardingThread* error,
                                   const Failure& failure) {
    if (command)
        command->release();
    if (output != nullptr)
        output->let_go();
    if (error != nullptr)
        error->let_go();
    // A broken lock means a frame may have been cut short: nothing more may be written.
    if (auto guard = channel.lock())
        (void)write_message(guard->pipe(), frame::Failed{failure.code, failure.message});
    return failure.exit_code;
}

// Steps 12 to 17: forwarding threads, Started, the wait, the joins, Exited.
std::int32_t forward_until_exit(std::shared_ptr<SharedChannel> channel, LaunchedCommand launched,
                                UniqueHandle output, UniqueHandle error) {
    std::optional<LaunchedCommand> command(std::move(launched));
    const DWORD process_id = command->process_id();
    auto output_thread =
        ForwardingThread::start(std::move(output), channel, OutputStream::standard_output);
    if (!output_thread)
        return fail_while_forwarding(*channel, command, nullptr, nullptr, output_thread.error());
    auto error_thread =
        ForwardingThread::start(std::move(error), channel, OutputStream::standard_error);
    if (!error_thread)
        return fail_while_forwarding(*channel, command, &*output_thread, nullptr,
                                     error_thread.error());
    ForwardingThread* const threads[2] = {&*output_thread, &*error_thread};
    const auto fail = [&](const Failure& failure) {
        return fail_while_forwarding(*channel, command, threads[0], threads[1], failure);
    };

    // Output frames may come before Started: the threads already run.
    if (auto started = channel->send(frame::Started{process_id}); !started)
        return fail(started.error());
    auto exit_code = wait_for_exit(std::move(*command));
    command.reset();
    if (!exit_code)
        return fail(exit_code.error());
    // Exited follows every output frame: both streams are drained first.
    if (auto joined = output_thread->join(); !joined)
        return fail(joined.error());
    if (auto joined = error_thread->join(); !joined)
        return fail(joined.error());
    // The same 32 bits, read as a signed number. Exited is the terminal frame, and the runner
    // reads nothing after it: when sending it fails (its bytes may well have gone out), a Failed
    // frame would wait in its flush for a reader that is gone. The worker's exit code tells.
    if (auto exited = channel->send(frame::Exited{static_cast<std::int32_t>(*exit_code)}); !exited)
        return exited.error().exit_code;
    return exit_code::success;
}

}  // namespace

std::int32_t run_worker(std::string_view pipe_name) {
    SetErrorMode(kWorkerErrorMode);
    auto pipe = open_protected_pipe(pipe_name);
    if (!pipe) {
        print_error_line(pipe.error());
        return pipe.error().exit_code;
    }

    // A request that could not be read whole (the read failed, or a length over the limit was
    // refused with its body still unread) leaves the runner in its flush, waiting for bytes
    // this end will never take; a Failed frame would then wait in its own flush for a runner
    // that cannot read it, so nothing is written on the channel and the runner sees it close.
    // A length of zero announces no body: the runner has nothing more to send and reads
    // frames, so that refusal is reported to it like any other.
    auto length = read_length_prefix(pipe->get());
    if (!length) {
        print_error_line(length.error());
        return length.error().exit_code;
    }
    auto body = read_message_body(pipe->get(), *length);
    if (!body && *length == 0)
        return report_failure(pipe->get(), body.error());  // path A
    if (!body) {
        print_error_line(body.error());
        return body.error().exit_code;
    }
    auto launched = start_command(pipe->get(), *body);
    if (!launched)
        return report_failure(pipe->get(), launched.error());  // path A

    // Path B: the command runs, no thread yet.
    UniqueHandle output = launched->take_stdout();
    UniqueHandle error = launched->take_stderr();
    const char* missing = !output ? "stdout" : !error ? "stderr" : nullptr;
    if (missing != nullptr) {
        const std::int32_t code = report_failure(pipe->get(), consumed(missing));
        launched->release();
        return code;
    }
    return forward_until_exit(SharedChannel::create(std::move(*pipe)), std::move(*launched),
                              std::move(output), std::move(error));
}

}  // namespace quarvel
