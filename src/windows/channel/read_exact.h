#pragma once
// Reading an exact number of bytes from a pipe, however the writer's pieces arrive.

#include <cstdint>
#include <span>

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

// Fills all of `buffer` from `handle`, in as many reads as it takes; an empty buffer reads
// nothing. A read that fails or returns no bytes ends it with "Protected communication channel
// closed: " + the last error + "." (exit code 70): code ipc_closed for ERROR_BROKEN_PIPE (the
// peer closed its end), ipc_read_failed for anything else.
Result<void> read_exact(HANDLE handle, std::span<std::uint8_t> buffer);

}  // namespace quarvel
