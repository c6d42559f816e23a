#pragma once
// Whether a token holds a group, as Windows decides it for access checks.

#include <string_view>

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

// True when `sid` is an enabled group of `token` (deny-only groups do not count; for a
// restricted token Windows also requires a restricting SID). The token needs TOKEN_DUPLICATE
// access and is not closed. When Windows cannot answer: os_failure(code, message).
Result<bool> token_is_member(HANDLE token, PSID sid, std::string_view code,
                             std::string_view message);

}  // namespace quarvel
