// advapi32 calls that narrow a token: CreateRestrictedToken, privileges, the default DACL.

#include <winsim/kernel.h>
#include <winsim/restricted_token.h>

#include <algorithm>

#include "machine/ascii_text.h"
#include "machine/faults.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "security/acl_binary.h"
#include "security/privileges.h"
#include "security/sid.h"
#include "security/token.h"

namespace {

constexpr std::string_view kChangeNotify = "SeChangeNotifyPrivilege";
constexpr DWORD kRestrictingAttributes =
    winsim::kGroupMandatory | winsim::kGroupEnabledByDefault | winsim::kGroupEnabled;

// Applies the SID lists of CreateRestrictedToken; false when one holds an invalid SID.
bool restrict_sids(winsim::TokenState& token, DWORD disable_count,
                   const SID_AND_ATTRIBUTES* disable, DWORD restricted_count,
                   const SID_AND_ATTRIBUTES* restrict) {
    for (DWORD k = 0; k < disable_count; ++k) {
        if (!winsim::is_valid_sid(disable[k].Sid))
            return false;
        const std::string sid = winsim::sid_text(disable[k].Sid);
        for (auto& group : token.groups) {
            if (!winsim::same_sid(group.sid, sid))
                continue;
            group.attributes =
                (group.attributes & ~(winsim::kGroupEnabled | winsim::kGroupEnabledByDefault)) |
                winsim::kGroupUseForDenyOnly;
        }
    }
    for (DWORD k = 0; k < restricted_count; ++k) {
        if (!winsim::is_valid_sid(restrict[k].Sid))
            return false;
        token.restricting_sids.push_back(
            {winsim::sid_text(restrict[k].Sid), kRestrictingAttributes});
    }
    return true;
}

}  // namespace

BOOL CreateRestrictedToken(HANDLE existing, DWORD flags, DWORD disable_count,
                           PSID_AND_ATTRIBUTES sids_to_disable, DWORD delete_count,
                           LUID_AND_ATTRIBUTES* privileges_to_delete, DWORD restricted_count,
                           PSID_AND_ATTRIBUTES sids_to_restrict, PHANDLE new_token) {
    if (auto fault = winsim::take_fault("CreateRestrictedToken")) {
        if (fault->kind == winsim::FaultKind::fail)
            return winsim::fail(fault->value);
        if (new_token != nullptr)
            *new_token = nullptr;
        return TRUE;
    }
    const auto source = winsim::object_as<winsim::TokenObject>(existing);
    if (!source || new_token == nullptr)
        return winsim::fail(ERROR_INVALID_HANDLE);
    winsim::TokenState token = source->snapshot();
    if ((flags & DISABLE_MAX_PRIVILEGE) != 0)
        std::erase_if(token.privileges, [](const winsim::TokenPrivilege& privilege) {
            return !winsim::equal_ignoring_ascii_case(privilege.name, kChangeNotify);
        });
    for (DWORD k = 0; k < delete_count; ++k) {
        const auto name = winsim::privilege_name(privileges_to_delete[k].Luid);
        if (!name)
            return winsim::fail(ERROR_NO_SUCH_PRIVILEGE);
        std::erase_if(token.privileges, [&](const winsim::TokenPrivilege& privilege) {
            return winsim::equal_ignoring_ascii_case(privilege.name, *name);
        });
    }
    if (!restrict_sids(token, disable_count, sids_to_disable, restricted_count, sids_to_restrict))
        return winsim::fail(ERROR_INVALID_SID);
    if ((flags & LUA_TOKEN) != 0)
        token.limited_user = true;
    if ((flags & WRITE_RESTRICTED) != 0)
        token.write_restricted = true;
    token.primary = true;
    *new_token = winsim::insert_handle(std::make_shared<winsim::TokenObject>(std::move(token)));
    return TRUE;
}

BOOL IsTokenRestricted(HANDLE token) {
    if (auto fault = winsim::take_fault("IsTokenRestricted")) {
        SetLastError(fault->kind == winsim::FaultKind::fail ? fault->value : ERROR_SUCCESS);
        return FALSE;
    }
    const auto object = winsim::object_as<winsim::TokenObject>(token);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    return winsim::is_restricted(object->snapshot()) ? TRUE : FALSE;
}

BOOL LookupPrivilegeValueW(LPCWSTR system_name, LPCWSTR name, PLUID luid) {
    WINSIM_FAIL_IF_INJECTED("LookupPrivilegeValueW");
    if (name == nullptr || luid == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (system_name != nullptr && *system_name != u'\0')
        return winsim::fail(1722);  // no RPC
    const auto found = winsim::privilege_luid(winsim::wtf8_from_utf16(name));
    if (!found)
        return winsim::fail(ERROR_NO_SUCH_PRIVILEGE);
    *luid = *found;
    return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all, TOKEN_PRIVILEGES* new_state, DWORD,
                           TOKEN_PRIVILEGES* previous_state, PDWORD return_length) {
    if (auto fault = winsim::take_fault("AdjustTokenPrivileges")) {
        if (fault->kind == winsim::FaultKind::fail)
            return winsim::fail(fault->value);
        SetLastError(ERROR_NOT_ALL_ASSIGNED);
        return TRUE;
    }
    const auto object = winsim::object_as<winsim::TokenObject>(token);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (previous_state != nullptr || return_length != nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (!disable_all && new_state == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    bool all_assigned = true;
    object->update([&](winsim::TokenState& state) {
        if (disable_all) {
            for (auto& privilege : state.privileges)
                privilege.attributes &= ~winsim::kPrivilegeEnabled;
            return;
        }
        for (DWORD k = 0; k < new_state->PrivilegeCount; ++k) {
            const auto& change = new_state->Privileges[k];
            const auto name = winsim::privilege_name(change.Luid);
            const auto held = name ? std::find_if(state.privileges.begin(), state.privileges.end(),
                                                  [&](const winsim::TokenPrivilege& privilege) {
                                                      return winsim::equal_ignoring_ascii_case(
                                                          privilege.name, *name);
                                                  })
                                   : state.privileges.end();
            if (held == state.privileges.end()) {
                all_assigned = false;
                continue;
            }
            if ((change.Attributes & SE_PRIVILEGE_REMOVED) != 0)
                state.privileges.erase(held);
            else if ((change.Attributes & SE_PRIVILEGE_ENABLED) != 0)
                held->attributes |= winsim::kPrivilegeEnabled;
            else
                held->attributes &= ~winsim::kPrivilegeEnabled;
        }
    });
    SetLastError(all_assigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                         LPVOID information, DWORD length) {
    WINSIM_FAIL_IF_INJECTED("SetTokenInformation");
    const auto object = winsim::object_as<winsim::TokenObject>(token);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (information_class != TokenDefaultDacl || information == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (length < sizeof(TOKEN_DEFAULT_DACL))
        return winsim::fail(ERROR_BAD_LENGTH);
    const ACL* acl = static_cast<const TOKEN_DEFAULT_DACL*>(information)->DefaultDacl;
    std::optional<std::vector<winsim::AccessEntry>> dacl;
    if (acl != nullptr) {
        dacl = winsim::entries_from_acl(acl);
        if (!dacl)
            return winsim::fail(1336);  // ERROR_INVALID_ACL
    }
    object->update([&](winsim::TokenState& state) { state.default_dacl = std::move(dacl); });
    return TRUE;
}
