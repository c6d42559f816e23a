#pragma once
// The worker's check that it runs as the protected account the runner meant, inside the
// sandbox group, before it starts anything.

#include <string_view>

#include "cli/failure.h"

namespace quarvel {

// The token user must be `account_sid` (compared without regard to ASCII case) and the token a
// member of `group_sid`. Codes worker_identity_failed (exit code 70), invalid_sid, and those of
// the SID conversions.
Result<void> verify_worker_identity(std::string_view account_sid, std::string_view group_sid);

}  // namespace quarvel
