#include "windows/process/worker_identity.h"

#include <algorithm>
#include <string>

#include "platform/unique_resource.h"
#include "windows/security/os_failure.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"
#include "windows/security/token_membership.h"

namespace quarvel {
namespace {

constexpr std::string_view kCode = "worker_identity_failed";

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_sid_text(std::string_view left, std::string_view right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](char a, char b) { return ascii_lower(a) == ascii_lower(b); });
}

Result<UniqueHandle> open_own_token() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token))
        return std::unexpected(
            os_failure(kCode, "Could not inspect protected command worker identity."));
    return checked_handle(token, kCode, "Could not inspect worker identity.");
}

Result<std::string> token_user(HANDLE token) {
    auto user = read_token_information(token, TokenUser, kCode, "worker identity");
    if (!user)
        return std::unexpected(std::move(user.error()));
    auto copy = copy_sid(user->as<TOKEN_USER>()->User.Sid);
    if (!copy)
        return std::unexpected(std::move(copy.error()));
    return sid_to_string(copy->get());
}

}  // namespace

Result<void> verify_worker_identity(std::string_view account_sid, std::string_view group_sid) {
    auto token = open_own_token();
    if (!token)
        return std::unexpected(std::move(token.error()));
    auto user = token_user(token->get());
    if (!user)
        return std::unexpected(std::move(user.error()));
    if (!same_sid_text(*user, account_sid))
        return std::unexpected(
            fixed_failure(kCode, "Protected command worker started under an unexpected account.",
                          exit_code::internal));

    auto group = sid_from_string(group_sid);
    if (!group)
        return std::unexpected(std::move(group.error()));
    auto member = token_is_member(token->get(), group->get(), kCode,
                                  "Could not verify protected command worker membership.");
    if (!member)
        return std::unexpected(std::move(member.error()));
    if (!*member)
        return std::unexpected(
            fixed_failure(kCode, "Protected command worker is not in its required account group.",
                          exit_code::internal));
    return {};
}

}  // namespace quarvel
