// netapi32's local group and account management on the simulated machine's account store.

#include <winsim/accounts.h>
#include <winsim/kernel.h>
#include <winsim/netapi.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "accounts/account_names.h"
#include "accounts/accounts.h"
#include "machine/ascii_text.h"
#include "machine/faults.h"
#include "machine/wtf8.h"
#include "security/access_check.h"
#include "security/sid.h"

namespace {

constexpr std::size_t kUserNameLimit = 20;
constexpr std::size_t kGroupNameLimit = 256;

std::optional<NET_API_STATUS> injected(std::string_view function) {
    if (auto fault = winsim::take_fault(function))
        return static_cast<NET_API_STATUS>(fault->value);
    return std::nullopt;
}

bool names_local_computer(LPCWSTR server_name) {
    if (server_name == nullptr || *server_name == u'\0')
        return true;
    std::string name = winsim::wtf8_from_utf16(server_name);
    if (name.starts_with("\\\\"))
        name.erase(0, 2);
    return winsim::equal_ignoring_ascii_case(name, winsim::read_accounts().computer_name);
}

// On a workstation only administrators may manage accounts; with User Account Control that
// means a token whose Administrators group is enabled, not the filtered one.
bool caller_may_manage_accounts() {
    const winsim::TokenState caller = winsim::process_token_object()->snapshot();
    return winsim::sid_enabled_in(caller, winsim::kAdministratorsSid) ||
           winsim::same_sid(caller.user, winsim::kLocalSystemSid);
}

// Account names: not empty, within the limit, not ending in a period, none of the characters
// " / \ [ ] : | < > + = ; ? * , and no control characters.
bool is_valid_account_name(LPCWSTR text, std::size_t limit) {
    if (text == nullptr)
        return false;
    const std::u16string_view name(text);
    if (name.empty() || name.size() > limit || name.back() == u'.')
        return false;
    for (const char16_t c : name)
        if (c < 0x20 ||
            std::u16string_view(u"\"/\\[]:|<>+=;?*,").find(c) != std::u16string_view::npos)
            return false;
    return true;
}

std::string text_of(LPCWSTR text) {
    return text != nullptr ? winsim::wtf8_from_utf16(text) : std::string();
}

// The machine's accounts could not be locked, so nothing changed: the lock's error (the last
// error update_accounts left) is the call's status.
NET_API_STATUS lock_failure() {
    return static_cast<NET_API_STATUS>(GetLastError());
}

void report_parameter(LPDWORD parameter_error, DWORD parameter) {
    if (parameter_error != nullptr)
        *parameter_error = parameter;
}

// The account type among the flags: at most one type bit (a single bit or none).
bool names_one_type_at_most(DWORD flags) {
    const DWORD type = flags & UF_ACCOUNT_TYPE_MASK;
    return (type & (type - 1)) == 0;
}

// The flags a new account is made with: a normal account unless the caller named a type (only
// normal accounts are simulated), and never locked out, which no caller can ask for.
std::optional<DWORD> flags_of_new_account(DWORD requested) {
    const DWORD type = requested & UF_ACCOUNT_TYPE_MASK;
    if (type != 0 && type != UF_NORMAL_ACCOUNT)
        return std::nullopt;
    return (requested & ~UF_LOCKOUT) | UF_NORMAL_ACCOUNT;
}

// The flags an account gets from level 1008: the given ones, with the account's own type (which
// netapi32 cannot change) and UF_LOCKOUT only where it was and still is asked for (it can be
// cleared to unlock, never set to lock). Nothing when the flags ask for another type. An account
// stored without a type is a normal one.
std::optional<DWORD> flags_after_change(DWORD current, DWORD requested) {
    const DWORD current_type =
        (current & UF_ACCOUNT_TYPE_MASK) != 0 ? current & UF_ACCOUNT_TYPE_MASK : UF_NORMAL_ACCOUNT;
    const DWORD requested_type = requested & UF_ACCOUNT_TYPE_MASK;
    if (!names_one_type_at_most(requested) ||
        (requested_type != 0 && requested_type != current_type))
        return std::nullopt;
    const DWORD lockout = current & requested & UF_LOCKOUT;
    return (requested & ~(UF_ACCOUNT_TYPE_MASK | UF_LOCKOUT)) | current_type | lockout;
}

}  // namespace

NET_API_STATUS NetLocalGroupAdd(LPCWSTR server_name, DWORD level, LPBYTE buffer,
                                LPDWORD parameter_error) {
    if (auto status = injected("NetLocalGroupAdd"))
        return *status;
    if (!names_local_computer(server_name))
        return NERR_InvalidComputer;
    if (level != 0 && level != 1)
        return ERROR_INVALID_LEVEL;
    if (buffer == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!caller_may_manage_accounts())
        return ERROR_ACCESS_DENIED;
    // LOCALGROUP_INFO_0 is LOCALGROUP_INFO_1 without the comment.
    const auto* info = reinterpret_cast<const LOCALGROUP_INFO_1*>(buffer);
    if (!is_valid_account_name(info->lgrpi1_name, kGroupNameLimit)) {
        report_parameter(parameter_error, LOCALGROUP_NAME_PARMNUM);
        return ERROR_INVALID_PARAMETER;
    }
    const std::string name = text_of(info->lgrpi1_name);
    const std::string comment = level == 1 ? text_of(info->lgrpi1_comment) : std::string();
    NET_API_STATUS status = NERR_Success;
    const bool locked = winsim::update_accounts([&](winsim::AccountStore& store) {
        if (store.find_group(name) != nullptr)
            status = ERROR_ALIAS_EXISTS;
        else if (store.find_user(name) != nullptr)
            status = NERR_UserExists;
        if (status != NERR_Success)
            return false;
        store.groups.push_back({name, store.allocate_user_sid(), comment, {}});
        return true;
    });
    return locked ? status : lock_failure();
}

NET_API_STATUS NetUserAdd(LPCWSTR server_name, DWORD level, LPBYTE buffer,
                          LPDWORD parameter_error) {
    if (auto status = injected("NetUserAdd"))
        return *status;
    if (!names_local_computer(server_name))
        return NERR_InvalidComputer;
    if (level != 1)
        return ERROR_INVALID_LEVEL;
    if (buffer == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!caller_may_manage_accounts())
        return ERROR_ACCESS_DENIED;
    const auto* info = reinterpret_cast<const USER_INFO_1*>(buffer);
    if (info->usri1_priv != USER_PRIV_USER) {
        report_parameter(parameter_error, USER_PRIV_PARMNUM);
        return ERROR_INVALID_PARAMETER;
    }
    const auto flags = flags_of_new_account(info->usri1_flags);
    if (!flags) {
        report_parameter(parameter_error, USER_FLAGS_PARMNUM);
        return ERROR_INVALID_PARAMETER;
    }
    if (!is_valid_account_name(info->usri1_name, kUserNameLimit))
        return NERR_BadUsername;
    winsim::LocalUser user;
    user.name = text_of(info->usri1_name);
    user.password = text_of(info->usri1_password);
    user.comment = text_of(info->usri1_comment);
    user.flags = *flags;
    user.privilege = info->usri1_priv;
    user.home_directory = text_of(info->usri1_home_dir);
    user.script_path = text_of(info->usri1_script_path);
    NET_API_STATUS status = NERR_Success;
    const bool locked = winsim::update_accounts([&](winsim::AccountStore& store) {
        if (store.find_user(user.name) != nullptr)
            status = NERR_UserExists;
        else if (store.find_group(user.name) != nullptr)
            status = NERR_GroupExists;
        if (status != NERR_Success)
            return false;
        user.sid = store.allocate_user_sid();
        store.users.push_back(user);
        return true;
    });
    return locked ? status : lock_failure();
}

NET_API_STATUS NetUserSetInfo(LPCWSTR server_name, LPCWSTR user_name, DWORD level, LPBYTE buffer,
                              LPDWORD parameter_error) {
    if (auto status = injected("NetUserSetInfo"))
        return *status;
    if (!names_local_computer(server_name))
        return NERR_InvalidComputer;
    if (level != 1003 && level != 1008)
        return ERROR_INVALID_LEVEL;
    if (user_name == nullptr || buffer == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!caller_may_manage_accounts())
        return ERROR_ACCESS_DENIED;
    const std::string name = text_of(user_name);
    std::function<NET_API_STATUS(winsim::LocalUser&)> change;
    if (level == 1003) {
        const std::string password =
            text_of(reinterpret_cast<const USER_INFO_1003*>(buffer)->usri1003_password);
        change = [password](winsim::LocalUser& user) {
            user.password = password;
            return static_cast<NET_API_STATUS>(NERR_Success);
        };
    } else {
        const DWORD requested = reinterpret_cast<const USER_INFO_1008*>(buffer)->usri1008_flags;
        change = [requested, parameter_error](winsim::LocalUser& user) {
            const auto flags = flags_after_change(user.flags, requested);
            if (!flags) {
                report_parameter(parameter_error, USER_FLAGS_PARMNUM);
                return static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER);
            }
            user.flags = *flags;
            return static_cast<NET_API_STATUS>(NERR_Success);
        };
    }
    NET_API_STATUS status = NERR_Success;
    const bool locked = winsim::update_accounts([&](winsim::AccountStore& store) {
        winsim::LocalUser* user = store.find_user(name);
        status = user == nullptr ? static_cast<NET_API_STATUS>(NERR_UserNotFound) : change(*user);
        return status == NERR_Success;
    });
    return locked ? status : lock_failure();
}

NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR server_name, LPCWSTR group_name, DWORD level,
                                       LPBYTE buffer, DWORD total_entries) {
    if (auto status = injected("NetLocalGroupAddMembers"))
        return *status;
    if (!names_local_computer(server_name))
        return NERR_InvalidComputer;
    if (level != 3)
        return ERROR_INVALID_LEVEL;
    if (group_name == nullptr || (buffer == nullptr && total_entries > 0))
        return ERROR_INVALID_PARAMETER;
    if (!caller_may_manage_accounts())
        return ERROR_ACCESS_DENIED;
    const auto* entries = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_3*>(buffer);
    NET_API_STATUS status = NERR_Success;
    const bool locked = winsim::update_accounts([&](winsim::AccountStore& store) {
        winsim::LocalGroup* group = store.find_group(text_of(group_name));
        if (group == nullptr) {
            status = NERR_GroupNotFound;
            return false;
        }
        // Every entry is checked before any is added: the call adds all or none.
        std::vector<std::string> added;
        for (DWORD k = 0; k < total_entries && status == NERR_Success; ++k) {
            const auto member =
                winsim::account_named(store, text_of(entries[k].lgrmi3_domainandname));
            if (!member)
                status = ERROR_NO_SUCH_MEMBER;
            else if (member->use == SidTypeAlias || member->use == SidTypeDomain)
                status = ERROR_INVALID_MEMBER;
            else if (std::any_of(group->members.begin(), group->members.end(),
                                 [&](const std::string& sid) {
                                     return winsim::same_sid(sid, member->sid);
                                 }))
                status = ERROR_MEMBER_IN_ALIAS;
            else
                added.push_back(member->sid);
        }
        if (status != NERR_Success)
            return false;
        group->members.insert(group->members.end(), added.begin(), added.end());
        return true;
    });
    return locked ? status : lock_failure();
}
