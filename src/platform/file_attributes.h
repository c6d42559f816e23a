#pragma once
// The attributes of what a path leads to.

#include <optional>

#include "platform/wide_text.h"

namespace quarvel {

// The attributes of the file or directory at `path`, or none when there is nothing there. A
// link counts only when its target exists, since that is what a replacement has to remove.
std::optional<DWORD> attributes_following_links(WideView path);

}  // namespace quarvel
