#pragma once
// Privilege names and the locally unique identifiers Windows gives them. The values are fixed
// on every Windows system (SE_*_PRIVILEGE in the SDK), so they are a table here.

#include <winsim/security.h>

#include <optional>
#include <string>
#include <string_view>

namespace winsim {

// Names compare without regard to case, as LookupPrivilegeValueW does.
std::optional<LUID> privilege_luid(std::string_view name);
std::optional<std::string> privilege_name(LUID luid);

}  // namespace winsim
