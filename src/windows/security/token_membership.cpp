#include "windows/security/token_membership.h"

#include "windows/security/os_failure.h"

namespace quarvel {

Result<bool> token_is_member(HANDLE token, PSID sid, std::string_view code,
                             std::string_view message) {
    // CheckTokenMembership refuses primary tokens (ERROR_NO_IMPERSONATION_TOKEN), and the
    // tokens the program tests are process and sign-in tokens, which are primary.
    HANDLE raw_duplicate = nullptr;
    if (!DuplicateToken(token, SecurityImpersonation, &raw_duplicate))
        return std::unexpected(os_failure(code, message));
    auto duplicate = checked_handle(raw_duplicate, code, message);
    if (!duplicate)
        return std::unexpected(std::move(duplicate.error()));

    BOOL member = FALSE;
    if (!CheckTokenMembership(duplicate->get(), sid, &member))
        return std::unexpected(os_failure(code, message));
    return member != FALSE;
}

}  // namespace quarvel
