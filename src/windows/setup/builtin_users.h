#pragma once
// Membership of the built-in Users group, whose name depends on the language of Windows.

#include <string>
#include <string_view>

#include "cli/failure.h"

namespace quarvel {

// The local name of S-1-5-32-545 as LookupAccountSidW gives it ("Users" on English Windows).
// Fails with invalid_sid or sid_copy_failed from the SID conversion, or with
// account_lookup_failed, "Could not resolve built-in account group." and the Windows error.
Result<std::string> builtin_users_group_name();

// add_group_member with that name as the group and `account` as the member.
Result<void> add_to_builtin_users(std::string_view account);

}  // namespace quarvel
