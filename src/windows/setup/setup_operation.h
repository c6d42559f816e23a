#pragma once
// `setup`: prepares the computer for protected commands, elevated, in one pass that tolerates
// whatever an earlier setup left behind, and proves the result by loading it back.

#include <optional>
#include <string>

#include "cli/failure.h"
#include "platform/wide_text.h"
#include "windows/setup/load_setup.h"

namespace quarvel {

// The steps in their fixed order: authorisation, the state directory's path, a given owner's
// account (before anything is made), the state directory, the group and its SID, the owner, the
// state directory's access list, fresh passwords, the accounts and their memberships, sign-in
// checks, profiles, the offline network rule, the time, both protected passwords, both setup
// files, and load_setup, whose result is returned. The first failure ends it; nothing done
// before is undone. `owner_sid` is the --owner-sid text as typed, when it was given; the marker
// keeps it so. An owner that is not a user account (require_user_account_owner) fails with
// invalid_request, "Owner SID must name a user account.".
Result<LoadedSetup> run_setup(WideView state_dir, const std::optional<std::string>& owner_sid);

}  // namespace quarvel
