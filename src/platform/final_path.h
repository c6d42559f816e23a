#pragma once
// The name Windows gives an open file or directory.

#include <cstdint>
#include <expected>

#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel {

// The final path of what `object` refers to (FILE_NAME_NORMALIZED, VOLUME_NAME_DOS: every link
// resolved, the letter case as stored, \\?\C:\...), or the Windows error.
std::expected<WideString, std::uint32_t> final_path_of(HANDLE object);

}  // namespace quarvel
