#pragma once
// Creating a directory together with whichever of its ancestors are missing, and removing a
// directory with everything in it.

#include <cstdint>
#include <expected>

#include "platform/wide_text.h"

namespace quarvel {

// Makes `directory` and every missing ancestor; an empty path (the current directory) and an
// existing directory need nothing. Another process creating the same directories meanwhile is
// not an error. Fails with the Windows error of the step that could not be taken, e.g.
// ERROR_ALREADY_EXISTS when a file stands where a directory must go, or ERROR_PATH_NOT_FOUND
// when not even the root exists.
std::expected<void, std::uint32_t> create_directory_tree(WideView directory);

// Whether the path names an existing directory: a link to one counts, a dangling link does not.
bool is_existing_directory(WideView path);

// Removes `directory` and everything in it. Links are never followed: a symbolic link or
// junction, in the tree or as `directory` itself, is removed as a link and what it points to is
// left alone. Read-only files are made writable first, as Windows refuses to delete them. Goes
// on past what cannot be removed and returns how many removals failed (0: the whole tree is
// gone; a directory that is not there counts as gone). The walk keeps its own stack, so the depth
// of the tree is no limit.
std::size_t remove_directory_tree(WideView directory);

// The same for everything inside `directory`, which stays. A link or file that stands where the
// directory should be is not entered and counts as one that stayed.
std::size_t remove_directory_contents(WideView directory);

}  // namespace quarvel
