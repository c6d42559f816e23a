#pragma once
// Whether an open object is a link to somewhere else: the test that protected paths, the
// runtime directory and the state directory must pass before their access rules are touched,
// so that a rule meant for one directory never lands on another one that a link points to.

#include <cstdint>
#include <expected>

#include "platform/win32.h"

namespace quarvel {

// True when the object behind `object` (opened with FILE_FLAG_OPEN_REPARSE_POINT, so that a
// final link is the object itself) is a reparse point (FILE_ATTRIBUTE_REPARSE_POINT) whose tag
// has the name-surrogate bit: directory junctions and symbolic links. Fails with the Windows
// error when the handle cannot be read; each caller reports it in its own context.
std::expected<bool, std::uint32_t> is_name_surrogate_reparse_point(HANDLE object);

}  // namespace quarvel
