#pragma once
// The SID of a local account or group, looked up by its name.

#include <string>
#include <string_view>

#include "cli/failure.h"
#include "windows/security/owned_sid.h"

namespace quarvel {

// Asks Windows for the sizes first, then for the SID (the domain it reports is not used).
// Fails with account_lookup_failed (exit code 70, with the Windows error): "Could not size
// account security identifier." when the size query does not answer ERROR_INSUFFICIENT_BUFFER
// (a name Windows does not know gives ERROR_NONE_MAPPED here), "Could not resolve account
// security identifier." when the lookup itself fails.
Result<OwnedSid> lookup_account_sid(std::string_view name);

// The same SID in its text form: lookup_account_sid, then sid_to_string, whose failure
// (sid_conversion_failed) passes through as it is.
Result<std::string> lookup_account_sid_text(std::string_view name);

}  // namespace quarvel
