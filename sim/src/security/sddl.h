#pragma once
// Security descriptor strings (SDDL), read into the simulated host's own form.

#include <expected>
#include <string_view>

#include "security/security_descriptor.h"

namespace winsim {

// The descriptor a string describes, with SIDs in their standard text form, or the error
// Windows reports for the string: ERROR_INVALID_ACL for a malformed DACL or entry,
// ERROR_INVALID_SID for a malformed owner or group, ERROR_INVALID_PARAMETER for anything else
// (a part the simulated host does not support, such as a SACL, included).
std::expected<SecurityDescription, DWORD> parse_sddl(std::string_view text);

}  // namespace winsim
