#include "windows/setup/account_verification.h"

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "windows/security/os_failure.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"
#include "windows/security/token_membership.h"

namespace quarvel {
namespace {

constexpr std::string_view kLogonCode = "account_logon_failed";
constexpr std::string_view kVerificationCode = "account_verification_failed";

Result<UniqueHandle> sign_in(std::string_view account, std::string_view password) {
    const WideString wide_account = to_wide(account);
    const WideString local_computer = to_wide(".");
    const WideString wide_password = to_wide(password);
    HANDLE token = nullptr;
    if (!LogonUserW(wide_account.c_str(), local_computer.c_str(), wide_password.c_str(),
                    LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token))
        return std::unexpected(
            os_failure(kLogonCode, "Could not sign in to protected command account."));
    return checked_handle(token, kLogonCode, "Could not open account token.");
}

// The token's groups, every entry that the list's count names.
Result<TokenInformation> token_groups(HANDLE token) {
    auto groups = read_token_information_or(token, TokenGroups, kVerificationCode,
                                            "Could not verify protected account privileges.");
    if (!groups)
        return std::unexpected(std::move(groups.error()));
    if (!groups->holds_whole_group_list())
        return std::unexpected(fixed_failure(kVerificationCode,
                                             "Could not verify protected account privileges.",
                                             exit_code::internal));
    return groups;
}

// Any appearance counts: an enabled group, and just as much a deny-only one, which is how
// User Account Control leaves Administrators in the filtered token of an administrator.
bool holds_group_at_all(const TokenInformation& groups, const OwnedSid& sid) {
    const auto* list = groups.as<TOKEN_GROUPS>();
    for (DWORD k = 0; k < list->GroupCount; ++k)
        if (is_same_sid(sid, list->Groups[k].Sid))
            return true;
    return false;
}

// The owner as the token's user, or among its groups with whatever attributes.
Result<bool> holds_owner(HANDLE token, const TokenInformation& groups, const OwnedSid& owner) {
    auto user = read_token_information_or(token, TokenUser, kVerificationCode,
                                          "Could not verify protected account identity.");
    if (!user)
        return std::unexpected(std::move(user.error()));
    return is_same_sid(owner, user->as<TOKEN_USER>()->User.Sid) ||
           holds_group_at_all(groups, owner);
}

}  // namespace

Result<void> verify_account_sign_in(std::string_view account, std::string_view password,
                                    const OwnedSid& group, const OwnedSid& owner) {
    auto token = sign_in(account, password);
    if (!token)
        return std::unexpected(std::move(token.error()));
    auto administrators = sid_from_string("S-1-5-32-544");
    if (!administrators)
        return std::unexpected(std::move(administrators.error()));
    auto groups = token_groups(token->get());
    if (!groups)
        return std::unexpected(std::move(groups.error()));
    const bool administrator = holds_group_at_all(*groups, *administrators);
    auto member = token_is_member(token->get(), group.get(), kVerificationCode,
                                  "Could not verify protected account membership.");
    if (!member)
        return std::unexpected(std::move(member.error()));
    auto owner_held = holds_owner(token->get(), *groups, owner);
    if (!owner_held)
        return std::unexpected(std::move(owner_held.error()));
    if (administrator || !*member || *owner_held)
        return std::unexpected(fixed_failure(
            kVerificationCode, "Protected command account has unsafe group membership.",
            exit_code::internal));
    return {};
}

}  // namespace quarvel
