#pragma once
// Whether a path names a link to somewhere else: the test that protected paths, the runtime
// directory and the state directory must pass before their access rules are touched, so that
// a rule meant for one directory never lands on another one that a link points to.

#include <cstdint>
#include <expected>

#include "platform/wide_text.h"

namespace quarvel {

// True when the object `path` names, its final component not followed, is a reparse point
// (FILE_ATTRIBUTE_REPARSE_POINT) whose tag has the name-surrogate bit. Fails with the Windows
// error when the object cannot be opened or read; each caller reports it in its own context.
std::expected<bool, std::uint32_t> is_name_surrogate_reparse_point(WideView path);

}  // namespace quarvel
