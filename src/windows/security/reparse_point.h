#pragma once
// Whether a path names a link to somewhere else: the test that protected paths, the runtime
// directory and the state directory must pass before their access rules are touched, so that
// a rule meant for one directory never lands on another one that a link points to.

#include <cstdint>
#include <expected>
#include <string_view>

#include "cli/failure.h"
#include "platform/wide_text.h"

namespace quarvel {

// True when the object `path` names, its final component not followed, is a reparse point
// (FILE_ATTRIBUTE_REPARSE_POINT) whose tag has the name-surrogate bit. Fails with the Windows
// error when the object cannot be opened or read; each caller reports it in its own context.
std::expected<bool, std::uint32_t> is_name_surrogate_reparse_point(WideView path);

// Success when `path` is no such link. Otherwise reparse_path_rejected with `rejected` as its
// message (exit code 70), or io_error with `inspect_context` when the path cannot be inspected.
Result<void> refuse_link(WideView path, std::string_view inspect_context,
                         std::string_view rejected);

}  // namespace quarvel
