#pragma once
// The local group and the two local accounts that protected commands run as, made or
// refreshed through netapi32 on the local computer. Every operation tolerates what an earlier
// setup left behind, and none undoes anything after a failure.

#include <string_view>

#include "cli/failure.h"

namespace quarvel {

inline constexpr std::string_view kProtectedGroupName = "QuarvelSandboxUsers";
inline constexpr std::string_view kOnlineAccountName = "QuarvelSandboxOnline";
inline constexpr std::string_view kOfflineAccountName = "QuarvelSandboxNoNet";

// Creates the group with its comment; a group that exists (NERR_GroupExists or
// ERROR_ALIAS_EXISTS) keeps its comment and members and counts as success. Any other status:
// group_setup_failed, "Could not create protected account group: {status}.".
Result<void> ensure_group();

// Creates the account with the password, USER_PRIV_USER, its comment and the flags script,
// password-cannot-change and password-never-expires. An account of that name that exists
// (NERR_UserExists) gets the new password (level 1003) and then those flags again on a normal
// account (level 1008): enabled, not locked out, whatever was changed since; its comment and
// privilege stay. Failures are account_setup_failed: "Could not create protected account
// {name}: {status}." or "Could not update protected account {name}: {status}." (either update).
Result<void> ensure_account(std::string_view name, std::string_view password);

// Adds the member (a bare account name) to the local group unless it is there already
// (ERROR_MEMBER_IN_ALIAS). Any other status: account_group_failed, "Could not add {member} to
// protected account group: {status}.", whichever group was meant.
Result<void> add_group_member(std::string_view group, std::string_view member);

}  // namespace quarvel
