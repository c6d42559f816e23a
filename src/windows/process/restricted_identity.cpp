#include "windows/process/restricted_identity.h"

#include <cstdint>

#include "windows/security/explicit_access.h"
#include "windows/security/os_failure.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"

namespace quarvel {
namespace {

constexpr DWORD kTokenAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY |
                               TOKEN_ADJUST_PRIVILEGES | TOKEN_ADJUST_DEFAULT |
                               TOKEN_ADJUST_SESSIONID;
constexpr DWORD kRestrictionFlags = DISABLE_MAX_PRIVILEGE | LUA_TOKEN | WRITE_RESTRICTED;
// SE_GROUP_LOGON_ID sets both top bits; nothing else does.
constexpr DWORD kLogonAttributesAbove = 0xBFFFFFFF;

Failure logon_failure(std::string_view message) {
    return fixed_failure("token_logon_sid_failed", message, exit_code::internal);
}

Result<UniqueHandle> open_own_token() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), kTokenAccess, &token))
        return std::unexpected(
            os_failure("token_open_failed", "Could not open protected account identity."));
    return checked_handle(token, "token_open_failed", "Could not open account identity.");
}

Result<OwnedSid> logon_sid_of(HANDLE token) {
    auto groups = read_token_information(token, TokenGroups, "token_logon_sid_failed",
                                         "protected logon identity");
    if (!groups)
        return std::unexpected(std::move(groups.error()));
    if (!groups->holds_whole_group_list())
        return std::unexpected(logon_failure("Protected logon identity is invalid."));
    const auto* list = groups->as<TOKEN_GROUPS>();
    for (DWORD k = 0; k < list->GroupCount; ++k) {
        if (list->Groups[k].Attributes > kLogonAttributesAbove)
            return copy_sid(list->Groups[k].Sid);
    }
    return std::unexpected(logon_failure("Protected logon identity is unavailable."));
}

Result<UniqueHandle> restricted_copy(HANDLE token, const std::array<PSID, 3>& restricting) {
    SID_AND_ATTRIBUTES sids[3] = {{restricting[0], 0}, {restricting[1], 0}, {restricting[2], 0}};
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(token, kRestrictionFlags, 0, nullptr, 0, nullptr, 3, sids,
                               &restricted))
        return std::unexpected(os_failure("token_restriction_failed",
                                          "Could not create restricted command identity."));
    auto owned = checked_handle(restricted, "token_restriction_failed",
                                "Could not create restricted identity.");
    if (!owned)
        return owned;
    if (!IsTokenRestricted(owned->get()))
        return std::unexpected(fixed_failure(
            "token_restriction_failed", "Windows did not mark the command identity as restricted.",
            exit_code::internal));
    return owned;
}

}  // namespace

Result<RestrictedIdentity> create_restricted_identity(std::string_view capability_sid) {
    auto capability = sid_from_string(capability_sid);
    if (!capability)
        return std::unexpected(std::move(capability.error()));
    auto everyone = sid_from_string("S-1-1-0");
    if (!everyone)
        return std::unexpected(std::move(everyone.error()));

    auto own_token = open_own_token();
    if (!own_token)
        return std::unexpected(std::move(own_token.error()));
    auto logon = logon_sid_of(own_token->get());
    if (!logon)
        return std::unexpected(std::move(logon.error()));

    const std::array<PSID, 3> restricting{capability->get(), logon->get(), everyone->get()};
    auto token = restricted_copy(own_token->get(), restricting);
    if (!token)
        return std::unexpected(std::move(token.error()));
    if (auto enabled = enable_change_notify(token->get()); !enabled)
        return std::unexpected(std::move(enabled.error()));
    if (auto granted = grant_default_access(token->get(), {capability->get(), logon->get()});
        !granted)
        return std::unexpected(std::move(granted.error()));
    return RestrictedIdentity{std::move(*logon), std::move(*token)};
}

Result<void> enable_change_notify(HANDLE token) {
    LUID change_notify{};
    if (!LookupPrivilegeValueW(nullptr, WIDE("SeChangeNotifyPrivilege"), &change_notify))
        return std::unexpected(os_failure("token_privilege_failed",
                                          "Could not resolve protected command privileges."));
    TOKEN_PRIVILEGES enable{};
    enable.PrivilegeCount = 1;
    enable.Privileges[0].Luid = change_notify;
    enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!AdjustTokenPrivileges(token, FALSE, &enable, 0, nullptr, nullptr))
        return std::unexpected(
            os_failure("token_privilege_failed", "Could not apply protected command privileges."));
    // Success can still mean that the token lacks the privilege.
    if (GetLastError() == ERROR_NOT_ALL_ASSIGNED)
        return std::unexpected(fixed_failure(
            "token_privilege_failed", "Required protected command privileges are unavailable.",
            exit_code::internal));
    return {};
}

Result<void> grant_default_access(HANDLE token, const std::array<PSID, 2>& sids) {
    auto system = sid_from_string("S-1-5-18");
    if (!system)
        return std::unexpected(std::move(system.error()));
    EXPLICIT_ACCESS_W grants[3] = {grant_to_sid(sids[0], GENERIC_ALL),
                                   grant_to_sid(sids[1], GENERIC_ALL),
                                   grant_to_sid(system->get(), GENERIC_ALL)};
    auto replacement_list = merge_grants(grants, nullptr);
    if (!replacement_list)
        return std::unexpected(formatted_failure(
            "token_default_access_failed", exit_code::internal,
            "Could not prepare protected object access: ", replacement_list.error(), "."));
    TOKEN_DEFAULT_DACL replacement{replacement_list->get()};
    if (!SetTokenInformation(token, TokenDefaultDacl, &replacement, sizeof replacement))
        return std::unexpected(
            os_failure("token_default_access_failed", "Could not apply protected object access."));
    return {};
}

}  // namespace quarvel
