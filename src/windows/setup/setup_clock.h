#pragma once
// The time of setup as the marker records it: whole seconds since 1970-01-01 00:00:00 UTC.

#include <cstdint>

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

// Whole seconds from 1970-01-01 00:00:00 UTC to the time (any fraction dropped). A time before
// that instant fails with system_clock_failed, "second time provided was later than self".
Result<std::uint64_t> unix_seconds(FILETIME time);

// unix_seconds of the system clock (GetSystemTimeAsFileTime, UTC).
Result<std::uint64_t> seconds_since_unix_epoch();

}  // namespace quarvel
