#pragma once
// Security descriptor strings (SDDL), read into the simulated host's own form.

#include <optional>
#include <string_view>

#include "security_descriptor.h"

namespace winsim {

// The descriptor a string describes, with SIDs in their standard text form; nothing when the
// string is malformed or uses a part the simulated host does not support (see
// ConvertStringSecurityDescriptorToSecurityDescriptorW).
std::optional<SecurityDescription> parse_sddl(std::string_view text);

}  // namespace winsim
