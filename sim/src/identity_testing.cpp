// The identity controls of the test API.

#include <winsim/testing.h>

#include "access_check.h"
#include "accounts.h"
#include "object.h"
#include "sid.h"
#include "token.h"

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
