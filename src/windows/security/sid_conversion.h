#pragma once
// Conversions between the text form of SIDs ("S-1-1-0"), in which they travel between the
// parts of the program, and the binary form Windows takes.

#include <string>
#include <string_view>

#include "cli/failure.h"
#include "platform/win32.h"
#include "windows/security/owned_sid.h"

namespace quarvel {

// The binary SID for its text form. Fails with invalid_sid ("Could not parse security
// identifier." + the Windows error) when Windows does not read the text as a SID, or with a
// failure of copy_sid.
Result<OwnedSid> sid_from_string(std::string_view text);

// A copy of a SID that Windows or another object owns. Fails with sid_copy_failed: "Could not
// read security identifier." when its length reads as zero, "Could not copy security
// identifier." when the copy fails (both with the Windows error).
Result<OwnedSid> copy_sid(PSID sid);

// The text form of a binary SID (unpaired surrogates become U+FFFD; no text at all from
// Windows gives ""). Fails with sid_conversion_failed, "Could not format security
// identifier." + the Windows error.
Result<std::string> sid_to_string(PSID sid);

// The standard string form of a SID given in any form Windows reads (an alias such as "BA", a
// hexadecimal authority, a lower-case "s"): sid_from_string, then sid_to_string. Text built for
// Windows from a SID takes this form, never the text as someone typed it. Failures are those of
// the two conversions.
Result<std::string> standard_sid_text(std::string_view text);

}  // namespace quarvel
