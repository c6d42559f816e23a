#pragma once
// The frames the worker writes on the pipe before its output forwarding threads exist: only
// the main thread writes then, so no lock is taken.

#include <cstdint>
#include <string_view>

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

// Writes Progress with the stage when `trace` is true; does nothing otherwise. A failed write
// is returned and becomes the failure of the step that sent it.
Result<void> send_progress(HANDLE pipe, bool trace, std::string_view stage);

// Writes Failed with the failure's code and message, whether or not that works, and returns
// the failure's exit code.
std::int32_t report_failure(HANDLE pipe, const Failure& failure);

}  // namespace quarvel
