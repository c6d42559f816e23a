#pragma once
// Access rules on workspace paths: allow entries for the sandbox group and a run's capability
// SID added to an existing file or directory and taken away again, and a directory's list
// replaced by a fixed one that no longer inherits from its parent.

#include <span>
#include <string_view>

#include "cli/failure.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel {

// Access masks of the rules.
inline constexpr DWORD kReadAndExecuteAccess = 0x001200A9;  // FILE_GENERIC_READ | _EXECUTE
inline constexpr DWORD kModifyAccess = 0x001301BF;          // read, write, execute and DELETE
inline constexpr DWORD kFullAccess = 0x10000000;            // GENERIC_ALL

// One entry for `sid` with `mask` and `mode` (GRANT_ACCESS or REVOKE_ACCESS), inherited by
// the directory's subdirectories and files (SUB_CONTAINERS_AND_OBJECTS_INHERIT), the trustee
// named by SID. The entry points into the SID, which must outlive its use.
EXPLICIT_ACCESS_W path_access_entry(PSID sid, DWORD mask, ACCESS_MODE mode);

// Adds (GRANT_ACCESS) or removes (REVOKE_ACCESS, mask 0) the trustee's entries on an existing
// file or directory and keeps every other entry; the path's protection from inheritance is
// left as it is. `path` is a canonical path (canonical_path), with or without its \\?\ prefix:
// the object is held open without delete sharing from the check until the list is written
// (pinned_path.h), its final path must still be `path`, and the list is read and written
// through that final path. Fails, leaving the list as it was, with:
//   io_error "Could not inspect protected path" when the path cannot be opened or read,
//   reparse_path_rejected "Protected path cannot be a symbolic link: <path>." for a junction
//     or symbolic link, or "Protected path changed after it was resolved: <path>." when the
//     object's final path is no longer `path`,
//   acl_read_failed "Could not read access rules for <path>: <E>.",
//   acl_update_failed "Could not prepare access rules for <path>: <E>." or
//     "Could not apply access rules for <path>: <E>.",
// where E is the Windows error the security call returned.
Result<void> set_path_access(WideView path, PSID sid, DWORD mask, ACCESS_MODE mode);

// Replaces the directory's list by exactly `entries` and stops inheritance from its parent.
// Fails with `code` and "Could not prepare protected directory access: <E>." or
// "Could not protect directory access: <E>.".
Result<void> protect_directory(WideView path, std::span<EXPLICIT_ACCESS_W> entries,
                               std::string_view code);

}  // namespace quarvel
