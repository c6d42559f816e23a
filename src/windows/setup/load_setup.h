#pragma once
// Loading the installation back: the two setup files read and parsed, the group and accounts
// matched against the marker, both passwords unprotected, both accounts signed in and checked,
// and the offline network rule verified. Probe, run and the end of setup all start here.

#include "cli/failure.h"
#include "platform/wide_text.h"
#include "windows/setup/account_secret.h"
#include "windows/setup/protected_accounts.h"
#include "windows/setup/setup_files.h"

namespace quarvel {

struct LoadedSetup {
    SetupMarker marker;
    AccountCredential online;
    AccountCredential offline;
};

// Reads, verifies and returns; changes nothing on disk. The first fault ends it: invalid_request
// (64) for a state directory that is not absolute; setup_required (78) when a file is missing or
// unreadable ("Windows command protection has not been set up."), not a valid document of its
// type ("Protection settings are invalid: " + the reader's description), of another version
// ("Windows command protection setup must be refreshed.") or when the group or an account no
// longer has the recorded SID ("Windows command protection accounts have changed and setup must
// be refreshed."); the failures of the account lookups, the credential unprotection, the
// conversion of the marker's owner SID, the sign-in checks (which also refuse an account that
// is or is in the owner) and the network rule check pass through unchanged.
Result<LoadedSetup> load_setup(WideView state_dir);

}  // namespace quarvel
