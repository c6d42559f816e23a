#pragma once
// A folder's entries as FindFirstFileW lists them: links as themselves, never followed.

#include <vector>

#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel {

struct DirectoryListing {
    std::vector<WIN32_FIND_DATAW> entries;  // without "." and ".."
    // ERROR_SUCCESS, or why nothing could be listed: ERROR_FILE_NOT_FOUND or
    // ERROR_PATH_NOT_FOUND when nothing matches, another error when the folder cannot be read.
    DWORD error = ERROR_SUCCESS;
};

// The entries that match `pattern` (a folder's path joined with a name that may hold * and ?;
// a path without wildcards lists the one entry it names). A listing that fails part-way keeps
// what it found: a later entry that cannot be listed reads as the end.
DirectoryListing list_directory(WideView pattern);

}  // namespace quarvel
