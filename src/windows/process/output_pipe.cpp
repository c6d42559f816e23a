#include "windows/process/output_pipe.h"

#include "windows/security/os_failure.h"

namespace quarvel {

Result<OutputPipe> create_output_pipe() {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &inheritable, 0))
        return std::unexpected(
            os_failure("stdio_pipe_failed", "Could not create protected command output channel."));
    // Owned before either is checked, so that neither end is left open when the other is bad.
    UniqueHandle write_end(write);
    auto read_end =
        checked_handle(read, "stdio_pipe_failed", "Could not open command output channel.");
    if (!read_end)
        return std::unexpected(std::move(read_end.error()));
    auto checked_write = checked_handle(write_end.release(), "stdio_pipe_failed",
                                        "Could not open command output channel.");
    if (!checked_write)
        return std::unexpected(std::move(checked_write.error()));
    return OutputPipe{std::move(*read_end), std::move(*checked_write)};
}

}  // namespace quarvel
