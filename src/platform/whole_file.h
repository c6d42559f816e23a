#pragma once
// Reading and writing a whole file through Win32 calls. Failures are the Windows error number,
// for the caller to put into its own failure (usually an io_failure with its context).

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "platform/wide_text.h"

namespace quarvel {

// Every byte of an existing file. Others may read, write or rename the file meanwhile.
std::expected<std::string, std::uint32_t> read_whole_file(WideView path);

// Creates the file, or truncates an existing one, and writes all of `bytes` into it.
std::expected<void, std::uint32_t> write_whole_file(WideView path, std::string_view bytes);

}  // namespace quarvel
