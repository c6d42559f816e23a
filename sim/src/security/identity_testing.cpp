// The identity controls of the test API.

#include <winsim/testing.h>

#include "accounts/accounts.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "processes/system_directory.h"
#include "security/access_check.h"
#include "security/sid.h"
#include "security/token.h"

namespace winsim {

std::string account_token_json(std::string_view name, bool elevated) {
    const AccountStore store = read_accounts();
    const LocalUser* user = store.find_user(name);
    if (user == nullptr)
        return "";
    return token_to_json(sign_in_token(store, *user, allocate_logon_id(), elevated)).dump();
}

std::string administrator_token_json(bool elevated) {
    return token_to_json(interactive_administrator_token(elevated)).dump();
}

void set_interactive_elevation(bool elevated) {
    update_accounts([&](AccountStore& store) {
        store.interactive_elevated = elevated;
        return true;
    });
}

void set_process_token_json(std::string_view token_json) {
    TokenState state = token_from_json(nlohmann::json::parse(token_json));
    process_token_object()->update([&](TokenState& current) { current = std::move(state); });
}

HANDLE create_token_handle(std::string_view token_json) {
    return insert_handle(
        std::make_shared<TokenObject>(token_from_json(nlohmann::json::parse(token_json))));
}

std::string accounts_json() {
    return accounts_to_json(read_accounts()).dump();
}

std::string ensure_local_group(std::string_view name) {
    std::string sid;
    update_accounts([&](AccountStore& store) {
        if (const LocalGroup* group = store.find_group(name)) {
            sid = group->sid;
            return false;
        }
        sid = store.allocate_user_sid();
        store.groups.push_back({std::string(name), sid, "", {}});
        return true;
    });
    return sid;
}

std::string ensure_local_user(std::string_view name, std::string_view password) {
    std::string sid;
    update_accounts([&](AccountStore& store) {
        if (LocalUser* user = store.find_user(name)) {
            user->password = password;
            sid = user->sid;
            return true;
        }
        LocalUser user;
        user.name = name;
        user.sid = sid = store.allocate_user_sid();
        user.password = password;
        user.flags = 0x0001 | kNormalAccount;  // UF_SCRIPT, a normal account
        store.users.push_back(std::move(user));
        return true;
    });
    return sid;
}

void add_local_group_member(std::string_view group_name, std::string_view member_sid) {
    update_accounts([&](AccountStore& store) {
        LocalGroup* group = store.find_group(group_name);
        if (group == nullptr)
            return false;
        for (const auto& member : group->members)
            if (same_sid(member, member_sid))
                return false;
        group->members.emplace_back(member_sid);
        return true;
    });
}

void remove_local_group_member(std::string_view group_name, std::string_view member_sid) {
    update_accounts([&](AccountStore& store) {
        LocalGroup* group = store.find_group(group_name);
        if (group == nullptr)
            return false;
        std::erase_if(group->members,
                      [&](const std::string& member) { return same_sid(member, member_sid); });
        return true;
    });
}

void set_local_user_password(std::string_view name, std::string_view password) {
    update_accounts([&](AccountStore& store) {
        LocalUser* user = store.find_user(name);
        if (user != nullptr)
            user->password = password;
        return user != nullptr;
    });
}

void set_local_user_disabled(std::string_view name, bool disabled) {
    update_accounts([&](AccountStore& store) {
        LocalUser* user = store.find_user(name);
        if (user != nullptr)
            user->flags =
                disabled ? user->flags | kAccountDisabled : user->flags & ~kAccountDisabled;
        return user != nullptr;
    });
}

void set_local_user_locked_out(std::string_view name, bool locked_out) {
    update_accounts([&](AccountStore& store) {
        LocalUser* user = store.find_user(name);
        if (user != nullptr)
            user->flags =
                locked_out ? user->flags | kAccountLockedOut : user->flags & ~kAccountLockedOut;
        return user != nullptr;
    });
}

void set_local_user_flags(std::string_view name, DWORD flags) {
    update_accounts([&](AccountStore& store) {
        LocalUser* user = store.find_user(name);
        if (user != nullptr)
            user->flags = flags;
        return user != nullptr;
    });
}

void deny_interactive_logon(std::string_view name) {
    update_accounts([&](AccountStore& store) {
        const LocalUser* user = store.find_user(name);
        if (user != nullptr)
            store.deny_interactive_logon.push_back(user->sid);
        return user != nullptr;
    });
}

void delete_local_user(std::string_view name) {
    update_accounts([&](AccountStore& store) {
        const LocalUser* user = store.find_user(name);
        if (user == nullptr)
            return false;
        const std::string sid = user->sid;
        for (auto& group : store.groups)
            std::erase_if(group.members,
                          [&](const std::string& member) { return same_sid(member, sid); });
        std::erase_if(store.users,
                      [&](const LocalUser& entry) { return same_sid(entry.sid, sid); });
        return true;
    });
}

void rename_local_group(std::string_view sid, std::string_view name) {
    update_accounts([&](AccountStore& store) {
        for (auto& group : store.groups) {
            if (same_sid(group.sid, sid)) {
                group.name = name;
                return true;
            }
        }
        return false;
    });
}

void set_windows_directory(std::string_view windows_path) {
    move_windows_directory(utf16_from_wtf8(windows_path));
}

bool evaluate_access(std::string_view token_json, std::string_view dacl_json, DWORD desired,
                     DWORD write_rights) {
    const TokenState token = token_from_json(nlohmann::json::parse(token_json));
    const nlohmann::json dacl_value = nlohmann::json::parse(dacl_json);
    std::optional<std::vector<AccessEntry>> dacl;
    if (!dacl_value.is_null()) {
        // The token's JSON form already reads entry lists; borrow it for the DACL.
        dacl = token_from_json({{"user", "S-1-0-0"}, {"default_dacl", dacl_value}}).default_dacl;
    }
    return access_granted(token, dacl, desired, write_rights);
}

}  // namespace winsim
