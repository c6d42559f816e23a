#pragma once
// The attributes of what a path leads to.

#include <optional>

#include "platform/wide_text.h"

namespace quarvel {

// The attributes of the file or directory at `path`, or none when there is nothing there. A
// link counts only when its target exists, since that is what a replacement has to remove.
std::optional<DWORD> attributes_following_links(WideView path);

// Whether a Windows error says that nothing stands at a path: the name, or a folder on its way.
bool is_not_found_error(DWORD error);

}  // namespace quarvel
