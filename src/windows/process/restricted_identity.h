#pragma once
// The command's narrowed form of the worker's identity: a restricted primary token that may
// write only where the run's capability SID, the worker's logon session and Everyone may, with
// a default DACL that lets the capability SID and the logon session use what the command
// creates, its own process and threads included.

#include <array>
#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "windows/security/owned_sid.h"

namespace quarvel {

struct RestrictedIdentity {
    OwnedSid logon_sid;  // the worker's logon session, also granted the private desktop
    UniqueHandle token;  // restricted primary token
};

// Derives the token from the worker's own (privileges removed but SeChangeNotifyPrivilege,
// limited-user, write-restricted to capability, logon and Everyone in that order), enables
// SeChangeNotifyPrivilege and gives it a default DACL of GENERIC_ALL for the capability SID, the
// logon SID and LocalSystem. Codes:
// invalid_sid, token_open_failed, token_logon_sid_failed, token_restriction_failed,
// token_privilege_failed, token_default_access_failed, sid_copy_failed. Nothing outlives a
// failure.
Result<RestrictedIdentity> create_restricted_identity(std::string_view capability_sid);

// Enables SeChangeNotifyPrivilege (token_privilege_failed, also when Windows reports that the
// token does not hold it).
Result<void> enable_change_notify(HANDLE token);

// Replaces the token's default DACL by GENERIC_ALL grants for the SIDs, in order, and for
// LocalSystem (token_default_access_failed; invalid_sid). Nothing of the account's own default
// DACL is kept, and Everyone is deliberately not among them: every other run's restricted
// command holds Everyone as a normal and a restricting SID, and every other run under the same
// account holds the account's user SID, so a grant to either would open this command's process,
// threads and unnamed objects to those runs (to read its memory, at least).
Result<void> grant_default_access(HANDLE token, const std::array<PSID, 2>& sids);

}  // namespace quarvel
