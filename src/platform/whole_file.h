#pragma once
// Reading and writing a whole file through Win32 calls. Failures are the Windows error number,
// for the caller to put into its own failure (usually an io_failure with its context).

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel {

// Every byte of an existing file. Others may read, write or rename the file meanwhile.
std::expected<std::string, std::uint32_t> read_whole_file(WideView path);

// Creates the file, or truncates an existing one, and writes all of `bytes` into it.
std::expected<void, std::uint32_t> write_whole_file(WideView path, std::string_view bytes);

// The same on a file the caller holds open: every byte from its position to its end, and all
// of `bytes` written at its position.
std::expected<std::string, std::uint32_t> read_from_file(HANDLE file);
std::expected<void, std::uint32_t> write_to_file(HANDLE file, std::string_view bytes);

}  // namespace quarvel
