#include "windows/setup/account_verification.h"

#include <cstring>

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

// A SID's length follows from its sub-authority count, the second byte: equal counts mean
// equal lengths, so the bytes compare without reading past either SID.
bool is_same_sid(PSID candidate, const OwnedSid& sid) {
    const auto* bytes = static_cast<const BYTE*>(candidate);
    return bytes[1] == static_cast<const BYTE*>(sid.get())[1] &&
           std::memcmp(candidate, sid.get(), sid.size()) == 0;
}

// Any appearance counts: an enabled group, and just as much a deny-only one, which is how
// User Account Control leaves Administrators in the filtered token of an administrator.
Result<bool> holds_group_at_all(HANDLE token, const OwnedSid& sid) {
    auto groups = read_token_information_or(token, TokenGroups, kVerificationCode,
                                            "Could not verify protected account privileges.");
    if (!groups)
        return std::unexpected(std::move(groups.error()));
    if (!groups->holds_whole_group_list())
        return std::unexpected(fixed_failure(kVerificationCode,
                                             "Could not verify protected account privileges.",
                                             exit_code::internal));
    const auto* list = groups->as<TOKEN_GROUPS>();
    for (DWORD k = 0; k < list->GroupCount; ++k)
        if (is_same_sid(list->Groups[k].Sid, sid))
            return true;
    return false;
}

}  // namespace

Result<void> verify_account_sign_in(std::string_view account, std::string_view password,
                                    const OwnedSid& group) {
    auto token = sign_in(account, password);
    if (!token)
        return std::unexpected(std::move(token.error()));
    auto administrators = sid_from_string("S-1-5-32-544");
    if (!administrators)
        return std::unexpected(std::move(administrators.error()));
    auto administrator = holds_group_at_all(token->get(), *administrators);
    if (!administrator)
        return std::unexpected(std::move(administrator.error()));
    auto member = token_is_member(token->get(), group.get(), kVerificationCode,
                                  "Could not verify protected account membership.");
    if (!member)
        return std::unexpected(std::move(member.error()));
    if (*administrator || !*member)
        return std::unexpected(fixed_failure(
            kVerificationCode, "Protected command account has unsafe group membership.",
            exit_code::internal));
    return {};
}

}  // namespace quarvel
