#pragma once
// The platform's own name for a location: links in its folders resolved, letter case as stored.

#include <cstdint>
#include <expected>

#include "platform/wide_text.h"

namespace quarvel {

// The final path of the existing file or directory at `path`, as Windows reports it for a
// handle to it (normalised, with the drive letter: \\?\C:\...), or the Windows error. A final
// link is not followed: the path of a location that is a junction or symbolic link is the
// link's own.
std::expected<WideString, std::uint32_t> canonical_path(WideView path);

}  // namespace quarvel
