#pragma once
// The program's standard output and standard error, written through Win32 handles.

#include <string_view>

#include "cli/failure.h"

namespace quarvel {

// Writes all bytes and flushes. A process without the handle (null or invalid) discards the
// bytes and succeeds; a failed write returns the Windows error number.
std::expected<void, std::uint32_t> write_standard_output(std::string_view bytes);
std::expected<void, std::uint32_t> write_standard_error(std::string_view bytes);

// The failure's JSON error line and a line feed on standard error. Nothing is left to report
// to when that write fails, so its result is ignored.
void print_error_line(const Failure& failure);

}  // namespace quarvel
