#include "windows/process/worker_messages.h"

#include <string>

#include "windows/channel/message_framing.h"

namespace quarvel {

Result<void> send_progress(HANDLE pipe, bool trace, std::string_view stage) {
    if (!trace)
        return {};
    return write_message(pipe, frame::Progress{std::string(stage)});
}

std::int32_t report_failure(HANDLE pipe, const Failure& failure) {
    // The runner learns of the failure from this frame or from the pipe closing: nothing more
    // can be done when the write fails.
    (void)write_message(pipe, frame::Failed{failure.code, failure.message});
    return failure.exit_code;
}

}  // namespace quarvel
