#pragma once
// Access lists built from grants to SIDs: the path access rules, the restricted token's default
// DACL and the private desktop.

#include <expected>
#include <span>

#include "platform/unique_resource.h"
#include "platform/win32.h"

namespace quarvel {

// One entry for `sid` naming the trustee by SID (no multiple trustee, type unknown). The entry
// points into the SID; it must outlive the entry's use.
EXPLICIT_ACCESS_W sid_access_entry(PSID sid, DWORD permissions, ACCESS_MODE mode,
                                   DWORD inheritance);

// A GRANT_ACCESS entry without inheritance.
EXPLICIT_ACCESS_W grant_to_sid(PSID sid, DWORD permissions);

// SetEntriesInAclW: the grants merged into `old_acl` (may be null), or the error it returned.
std::expected<LocalPtr<ACL>, DWORD> merge_grants(std::span<EXPLICIT_ACCESS_W> grants, PACL old_acl);

}  // namespace quarvel
