#include "windows/setup/protected_accounts.h"

#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel {
namespace {

constexpr std::string_view kGroupComment = "Quarvel protected command accounts";
constexpr std::string_view kAccountComment = "Quarvel protected command account";
constexpr DWORD kAccountFlags = UF_SCRIPT | UF_PASSWD_CANT_CHANGE | UF_DONT_EXPIRE_PASSWD;
// What an existing account is made again: the flags it is created with, on the normal account
// type that creation gives it. Leaving out UF_ACCOUNTDISABLE enables it and leaving out
// UF_LOCKOUT unlocks it; netapi32 refuses the flags of an account of another type.
constexpr DWORD kRepairedAccountFlags = kAccountFlags | UF_NORMAL_ACCOUNT;

// Statuses are unsigned numbers in messages, whatever type the headers give them.
std::uint32_t status_number(NET_API_STATUS status) {
    return static_cast<std::uint32_t>(status);
}

Failure update_failure(std::string_view display_name, NET_API_STATUS status) {
    return formatted_failure("account_setup_failed", exit_code::internal,
                             "Could not update protected account ", display_name, ": ",
                             status_number(status), ".");
}

Result<void> reset_password(const WideString& name, std::string_view display_name,
                            WideString& password) {
    USER_INFO_1003 info{};
    info.usri1003_password = password.data();
    const NET_API_STATUS status =
        NetUserSetInfo(nullptr, name.c_str(), 1003, reinterpret_cast<LPBYTE>(&info), nullptr);
    if (status != NERR_Success)
        return std::unexpected(update_failure(display_name, status));
    return {};
}

// An account that someone disabled, that the lockout policy locked, or whose password may now
// expire or be changed by its own commands would fail every sign-in, or fail later, however
// often setup ran: it gets the flags it was created with.
Result<void> repair_flags(const WideString& name, std::string_view display_name) {
    USER_INFO_1008 info{};
    info.usri1008_flags = kRepairedAccountFlags;
    const NET_API_STATUS status =
        NetUserSetInfo(nullptr, name.c_str(), 1008, reinterpret_cast<LPBYTE>(&info), nullptr);
    if (status != NERR_Success)
        return std::unexpected(update_failure(display_name, status));
    return {};
}

Result<void> refresh_account(const WideString& name, std::string_view display_name,
                             WideString& password) {
    if (auto reset = reset_password(name, display_name, password); !reset)
        return reset;
    return repair_flags(name, display_name);
}

}  // namespace

Result<void> ensure_group() {
    WideString name = to_wide(kProtectedGroupName);
    WideString comment = to_wide(kGroupComment);
    LOCALGROUP_INFO_1 info{};
    info.lgrpi1_name = name.data();
    info.lgrpi1_comment = comment.data();
    const NET_API_STATUS status =
        NetLocalGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr);
    if (status == NERR_Success || status == NERR_GroupExists ||
        status == static_cast<NET_API_STATUS>(ERROR_ALIAS_EXISTS))
        return {};
    return std::unexpected(formatted_failure(
        "group_setup_failed", exit_code::internal,
        "Could not create protected account group: ", status_number(status), "."));
}

Result<void> ensure_account(std::string_view name, std::string_view password) {
    WideString wide_name = to_wide(name);
    WideString wide_password = to_wide(password);
    WideString comment = to_wide(kAccountComment);
    USER_INFO_1 info{};
    info.usri1_name = wide_name.data();
    info.usri1_password = wide_password.data();
    info.usri1_password_age = 0;
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_home_dir = nullptr;
    info.usri1_comment = comment.data();
    info.usri1_flags = kAccountFlags;
    info.usri1_script_path = nullptr;
    const NET_API_STATUS status = NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr);
    if (status == NERR_Success)
        return {};
    if (status == NERR_UserExists)
        return refresh_account(wide_name, name, wide_password);
    return std::unexpected(formatted_failure("account_setup_failed", exit_code::internal,
                                             "Could not create protected account ", name, ": ",
                                             status_number(status), "."));
}

Result<void> add_group_member(std::string_view group, std::string_view member) {
    const WideString wide_group = to_wide(group);
    WideString wide_member = to_wide(member);
    LOCALGROUP_MEMBERS_INFO_3 entry{};
    entry.lgrmi3_domainandname = wide_member.data();
    const NET_API_STATUS status = NetLocalGroupAddMembers(nullptr, wide_group.c_str(), 3,
                                                          reinterpret_cast<LPBYTE>(&entry), 1);
    if (status == NERR_Success || status == static_cast<NET_API_STATUS>(ERROR_MEMBER_IN_ALIAS))
        return {};
    return std::unexpected(
        formatted_failure("account_group_failed", exit_code::internal, "Could not add ", member,
                          " to protected account group: ", status_number(status), "."));
}

}  // namespace quarvel
