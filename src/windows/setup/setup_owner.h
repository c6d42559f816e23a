#pragma once
// Who may own an installation. The owner gets full access to the state directory, where any
// reader can unprotect credentials.json (machine scope), and may open every run's channel. A
// group, alias or well-known identity that takes in a protected account would hand both to the
// protected commands: an offline command could sign in as the online account. So the owner must
// be a user account, or LocalSystem or Administrators, which hold that access anyway.

#include "cli/failure.h"
#include "windows/security/owned_sid.h"

namespace quarvel {

// What a SID's own form says of it, before Windows is asked.
enum class OwnerForm {
    keeper,    // LocalSystem or Administrators
    identity,  // a universal or NT well-known identity, built-in alias, logon, service, app
               // package, capability or integrity label SID, an account domain itself or one
               // of its reserved group RIDs: never a user account
    account,   // a SID of an account domain, or of an authority not listed: Windows decides
};

// Reads the SID's documented binary layout: revision, sub-authority count, 48-bit authority
// (most significant byte first), 32-bit sub-authorities.
OwnerForm owner_form(const OwnedSid& owner);

// Refuses an owner that is not a user account: by its form, then by the account type that
// LookupAccountSidW reports (only SidTypeUser passes), and a user that is one of the protected
// accounts. A SID that no lookup can map (ERROR_NONE_MAPPED, as for a domain account while its
// domain cannot be reached, or SidTypeUnknown) is accepted. Failures: invalid_request (64)
// "Owner SID must name a user account."; account_lookup_failed "Could not resolve owner
// account." with the Windows error when the lookup fails otherwise; the failures of
// lookup_account_sid for a protected account's name.
Result<void> require_user_account_owner(const OwnedSid& owner);

}  // namespace quarvel
