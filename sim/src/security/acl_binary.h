#pragma once
// Access control lists in Windows' binary layout (ACL header, then allowed and denied ACEs
// with their SIDs inline) and the entry list the simulated host keeps them as elsewhere.

#include <winsim/security.h>

#include <optional>
#include <vector>

#include "security/token.h"

namespace winsim {

// The binary ACL (revision 2) of the entries, in order; nothing when an entry's SID text is
// not a SID.
std::optional<std::vector<BYTE>> acl_from_entries(const std::vector<AccessEntry>& entries);

// The entries of a binary ACL; nothing when it is malformed (bad revision, sizes that do not
// add up, an ACE type other than allowed or denied, an invalid SID).
std::optional<std::vector<AccessEntry>> entries_from_acl(const ACL* acl);

}  // namespace winsim
