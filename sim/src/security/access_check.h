#pragma once
// Who may do what: the access check of Windows over a DACL, and the membership test of
// CheckTokenMembership, for every part of the simulated host that guards an object (named
// pipes, files, desktops).

#include <optional>
#include <string_view>
#include <vector>

#include "security/security_descriptor.h"
#include "security/token.h"

namespace winsim {

// The SID is the token's user or one of its enabled groups that is not deny-only.
bool sid_enabled_in(const TokenState& token, std::string_view sid);

// CheckTokenMembership's answer: enabled in the token, and for a restricted token that is not
// write-restricted also one of its restricting SIDs.
bool token_is_member_of(const TokenState& token, std::string_view sid);

// Whether `token` is granted all of `desired` (specific and standard rights; the caller maps
// generic rights first) by `dacl`; an absent DACL grants everything, an empty one nothing.
// Entries are read in order, inherit-only ones skipped: a denied entry refuses the request
// when it names a right not yet granted; allowed entries accumulate. The user and the enabled
// groups match both kinds of entry, deny-only groups match denied entries only. A restricted
// token must also pass the same check with its restricting SIDs as the only SIDs; for a
// write-restricted token that second check covers only the rights in `write_rights` (see
// restricted_write_rights).
bool access_granted(const TokenState& token, const std::optional<std::vector<AccessEntry>>& dacl,
                    DWORD desired, DWORD write_rights);

// The rights of an object type that a write-restricted token's restricting SIDs are checked
// for, as Windows' access check computes them: what GENERIC_WRITE maps to less what
// GENERIC_READ and GENERIC_EXECUTE map to (so READ_CONTROL and SYNCHRONIZE are not among
// them), plus DELETE, WRITE_DAC, WRITE_OWNER and ACCESS_SYSTEM_SECURITY.
DWORD restricted_write_rights(const GenericMapping& mapping);

// The access check of an object with an owner (files and directories): `desired` and the
// entries' masks have their generic rights mapped through `mapping`, and the owner is granted
// READ_CONTROL and WRITE_DAC unless the DACL has an OWNER RIGHTS (S-1-3-4) entry; for a
// restricted token the owner must also be one of its restricting SIDs for the second check.
bool object_access_granted(const TokenState& token, const SecurityDescription& object,
                           DWORD desired, const GenericMapping& mapping);

// What a request for MAXIMUM_ALLOWED is granted on such an object: of `mapping.all`, every
// right an allowed entry grants before a denied entry takes it away, entries read in order,
// with the owner's implied rights; for a restricted token only what its restricting SIDs grant
// as well (a write-restricted token: among the object's write rights only). Everything when
// the object has no DACL.
DWORD maximum_allowed_access(const TokenState& token, const SecurityDescription& object,
                             const GenericMapping& mapping);

}  // namespace winsim
