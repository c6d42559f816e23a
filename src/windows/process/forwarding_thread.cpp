#include "windows/process/forwarding_thread.h"

#include <optional>
#include <system_error>

namespace quarvel {

// Written by the thread before it ends, read after join: join orders the two.
struct ForwardingThread::Outcome {
    std::optional<Result<void>> result;
};

namespace {

Failure stopped_unexpectedly() {
    return fixed_failure("output_forward_failed",
                         "Protected command output worker stopped unexpectedly.",
                         exit_code::internal);
}

}  // namespace

Result<ForwardingThread> ForwardingThread::start(UniqueHandle read_end,
                                                 std::shared_ptr<SharedChannel> channel,
                                                 OutputStream stream) {
    // Whatever keeps the thread from starting (no thread left, no memory for its state) is one
    // failure: the read end and the channel reference are released on the way out.
    try {
        auto outcome = std::make_shared<Outcome>();
        std::thread thread([outcome, read_end = std::move(read_end), channel = std::move(channel),
                            stream]() mutable {
            // Anything unexpected ends the thread abnormally; join reports it.
            try {
                outcome->result = forward_output(std::move(read_end), std::move(channel), stream);
            } catch (...) {
            }
        });
        return ForwardingThread(std::move(outcome), std::move(thread));
    } catch (...) {
        return std::unexpected(fixed_failure("output_forward_failed",
                                             "Could not start protected command output worker.",
                                             exit_code::internal));
    }
}

Result<void> ForwardingThread::join() {
    if (!thread_.joinable())
        return std::unexpected(stopped_unexpectedly());
    try {
        thread_.join();
    } catch (const std::system_error&) {
        return std::unexpected(stopped_unexpectedly());
    }
    if (!outcome_->result)
        return std::unexpected(stopped_unexpectedly());
    return *outcome_->result;
}

void ForwardingThread::let_go() {
    if (thread_.joinable())
        thread_.detach();
}

}  // namespace quarvel
