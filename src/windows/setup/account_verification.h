#pragma once
// Proof that a protected account can sign in with its password, holds the groups it must and
// none it must not.

#include <string_view>

#include "cli/failure.h"
#include "windows/security/owned_sid.h"

namespace quarvel {

// Signs in interactively as `account` on the local computer with `password` and inspects the
// token: it must be a member of `group` and must hold neither Administrators nor the
// installation's `owner` at all: not as its user, not as a group with any attributes, enabled or
// for denial only (an administrator's interactive sign-in yields the filtered token, in which
// Administrators is deny-only). The owner has full access to the state directory, so a token
// that holds it could read and unprotect the stored passwords. The token is closed on every
// path. Failures:
//   account_logon_failed "Could not sign in to protected command account." / "Could not open
//     account token." (with the Windows error);
//   account_verification_failed "Could not verify protected account privileges." (the token's
//     groups cannot be read) / "Could not verify protected account membership." / "Could not
//     verify protected account identity." (its user cannot be read) (with the Windows error),
//     "Protected command account has unsafe group membership." (without);
//   invalid_sid and sid_copy_failed from the Administrators SID.
Result<void> verify_account_sign_in(std::string_view account, std::string_view password,
                                    const OwnedSid& group, const OwnedSid& owner);

}  // namespace quarvel
