#include "accounts/accounts.h"

#include "crypto/host_random.h"
#include "machine/ascii_text.h"
#include "machine/machine.h"
#include "security/sid.h"

namespace winsim {
namespace {

constexpr std::string_view kDocument = "accounts.json";
constexpr DWORD kAdministratorRid = 500;
constexpr DWORD kGroupDefault = kGroupMandatory | kGroupEnabledByDefault | kGroupEnabled;
constexpr DWORD kGroupIntegrity = 0x20 | 0x40;  // SE_GROUP_INTEGRITY | _ENABLED
constexpr DWORD kGroupOwner = 0x08;

template <class Items>
auto* find_named(Items& items, std::string_view name) {
    for (auto& item : items)
        if (winsim::equal_ignoring_ascii_case(item.name, name))
            return &item;
    return static_cast<decltype(&items.front())>(nullptr);
}

template <class Items>
auto* find_by_sid(Items& items, std::string_view sid) {
    for (auto& item : items)
        if (same_sid(item.sid, sid))
            return &item;
    return static_cast<decltype(&items.front())>(nullptr);
}

// Machine SIDs are three random 32-bit sub-authorities; the machine keeps them for life.
std::string draw_machine_sid() {
    std::uint32_t parts[3] = {};
    fill_host_random_or_abort(parts, sizeof parts);
    return "S-1-5-21-" + std::to_string(parts[0]) + "-" + std::to_string(parts[1]) + "-" +
           std::to_string(parts[2]);
}

AccountStore default_store() {
    AccountStore store;
    store.machine_sid = draw_machine_sid();
    store.interactive_logon_id = store.next_logon_id++;
    const std::string administrator = store.machine_sid + "-" + std::to_string(kAdministratorRid);
    store.users.push_back({std::string(kInteractiveAdministrator), administrator, "",
                           "Built-in account for administering the computer/domain", 0x10201,
                           2 /* USER_PRIV_ADMIN */, "", "", ""});
    store.groups.push_back({"Administrators",
                            std::string(kAdministratorsSid),
                            "Administrators have complete and unrestricted access to the "
                            "computer/domain",
                            {administrator}});
    // As on Windows, every interactive and authenticated sign-in is a member of Users.
    store.groups.push_back({"Users",
                            std::string(kUsersSid),
                            "Users are prevented from making accidental or intentional "
                            "system-wide changes and can run most applications",
                            {std::string(kInteractiveSid), std::string(kAuthenticatedUsersSid)}});
    return store;
}

bool is_administrator(const AccountStore& store, const LocalUser& user) {
    const LocalGroup* administrators = store.find_group_by_sid(kAdministratorsSid);
    if (administrators == nullptr)
        return false;
    for (const auto& member : administrators->members)
        if (same_sid(member, user.sid))
            return true;
    return false;
}

std::vector<TokenPrivilege> privileges_for(bool full_administrator) {
    constexpr DWORD kOn = kPrivilegeEnabledByDefault | kPrivilegeEnabled;
    if (!full_administrator) {
        return {{"SeShutdownPrivilege", 0},
                {"SeChangeNotifyPrivilege", kOn},
                {"SeUndockPrivilege", 0},
                {"SeIncreaseWorkingSetPrivilege", 0},
                {"SeTimeZonePrivilege", 0}};
    }
    return {{"SeIncreaseQuotaPrivilege", 0},
            {"SeSecurityPrivilege", 0},
            {"SeTakeOwnershipPrivilege", 0},
            {"SeLoadDriverPrivilege", 0},
            {"SeSystemProfilePrivilege", 0},
            {"SeSystemtimePrivilege", 0},
            {"SeProfileSingleProcessPrivilege", 0},
            {"SeIncreaseBasePriorityPrivilege", 0},
            {"SeCreatePagefilePrivilege", 0},
            {"SeBackupPrivilege", 0},
            {"SeRestorePrivilege", 0},
            {"SeShutdownPrivilege", 0},
            {"SeDebugPrivilege", 0},
            {"SeSystemEnvironmentPrivilege", 0},
            {"SeChangeNotifyPrivilege", kOn},
            {"SeRemoteShutdownPrivilege", 0},
            {"SeUndockPrivilege", 0},
            {"SeManageVolumePrivilege", 0},
            {"SeImpersonatePrivilege", kOn},
            {"SeCreateGlobalPrivilege", kOn},
            {"SeIncreaseWorkingSetPrivilege", 0},
            {"SeTimeZonePrivilege", 0},
            {"SeCreateSymbolicLinkPrivilege", 0}};
}

}  // namespace

LocalUser* AccountStore::find_user(std::string_view name) {
    return find_named(users, name);
}
const LocalUser* AccountStore::find_user(std::string_view name) const {
    return find_named(users, name);
}
LocalGroup* AccountStore::find_group(std::string_view name) {
    return find_named(groups, name);
}
const LocalGroup* AccountStore::find_group(std::string_view name) const {
    return find_named(groups, name);
}
LocalUser* AccountStore::find_user_by_sid(std::string_view sid) {
    return find_by_sid(users, sid);
}
const LocalUser* AccountStore::find_user_by_sid(std::string_view sid) const {
    return find_by_sid(users, sid);
}
const LocalGroup* AccountStore::find_group_by_sid(std::string_view sid) const {
    return find_by_sid(groups, sid);
}

std::string AccountStore::allocate_user_sid() {
    return machine_sid + "-" + std::to_string(next_rid++);
}

std::string AccountStore::domain_users_sid() const {
    return machine_sid + "-" + std::to_string(kDomainUsersRid);
}

nlohmann::json accounts_to_json(const AccountStore& store) {
    nlohmann::json users = nlohmann::json::array();
    for (const auto& user : store.users)
        users.push_back({{"name", user.name},
                         {"sid", user.sid},
                         {"password", user.password},
                         {"comment", user.comment},
                         {"flags", user.flags},
                         {"privilege", user.privilege},
                         {"home_directory", user.home_directory},
                         {"script_path", user.script_path},
                         {"profile", user.profile}});
    nlohmann::json groups = nlohmann::json::array();
    for (const auto& group : store.groups)
        groups.push_back({{"name", group.name},
                          {"sid", group.sid},
                          {"comment", group.comment},
                          {"members", group.members}});
    return {{"machine_sid", store.machine_sid},
            {"next_rid", store.next_rid},
            {"next_logon_id", store.next_logon_id},
            {"interactive_logon_id", store.interactive_logon_id},
            {"interactive_elevated", store.interactive_elevated},
            {"users", users},
            {"groups", groups},
            {"computer_name", store.computer_name},
            {"interactive_logon", store.interactive_logon},
            {"deny_interactive_logon", store.deny_interactive_logon}};
}

AccountStore accounts_from_json(const nlohmann::json& value) {
    AccountStore store;
    store.machine_sid = value.at("machine_sid").get<std::string>();
    store.next_rid = value.at("next_rid").get<DWORD>();
    store.next_logon_id = value.at("next_logon_id").get<DWORD>();
    store.interactive_logon_id = value.at("interactive_logon_id").get<DWORD>();
    store.interactive_elevated = value.value("interactive_elevated", true);
    store.computer_name = value.value("computer_name", store.computer_name);
    store.interactive_logon = value.value("interactive_logon", store.interactive_logon);
    store.deny_interactive_logon =
        value.value("deny_interactive_logon", store.deny_interactive_logon);
    for (const auto& user : value.at("users"))
        store.users.push_back(
            {user.at("name").get<std::string>(), user.at("sid").get<std::string>(),
             user.value("password", std::string()), user.value("comment", std::string()),
             user.value("flags", 0u), user.value("privilege", 1u),
             user.value("home_directory", std::string()), user.value("script_path", std::string()),
             user.value("profile", std::string())});
    for (const auto& group : value.at("groups"))
        store.groups.push_back({group.at("name").get<std::string>(),
                                group.at("sid").get<std::string>(),
                                group.value("comment", std::string()),
                                group.value("members", std::vector<std::string>())});
    return store;
}

bool update_accounts(const std::function<bool(AccountStore&)>& change) {
    const DWORD locked = update_machine_state(kDocument, [&](nlohmann::json& document) {
        // A missing or damaged database is replaced by a fresh machine's, as a reinstall would.
        AccountStore store;
        bool created = false;
        try {
            store = accounts_from_json(document);
        } catch (const nlohmann::json::exception&) {
            store = default_store();
            created = true;
        }
        const bool changed = change(store);
        if (!changed && !created)
            return false;
        document = accounts_to_json(store);
        return true;
    });
    return locked == ERROR_SUCCESS;
}

AccountStore read_accounts() {
    AccountStore result;
    const bool read = update_accounts([&](AccountStore& store) {
        result = store;
        return false;
    });
    if (read)
        return result;
    // Reading needs no lock: the document is replaced by a rename, never half written.
    try {
        return accounts_from_json(read_machine_state(kDocument));
    } catch (const nlohmann::json::exception&) {
        return default_store();
    }
}

DWORD allocate_logon_id() {
    DWORD id = 0;
    (void)update_accounts([&](AccountStore& store) {
        id = store.next_logon_id++;
        return true;
    });
    return id;
}

TokenState sign_in_token(const AccountStore& store, const LocalUser& user, DWORD logon_id,
                         bool elevated) {
    const bool administrator = is_administrator(store, user);
    const bool full_administrator = administrator && elevated;
    const std::string logon_sid = "S-1-5-5-0-" + std::to_string(logon_id);

    TokenState token;
    token.user = user.sid;
    token.elevated = full_administrator;
    token.groups.push_back({std::string(kEveryoneSid), kGroupDefault});
    // Every account of the machine is a member of its "None" group, as every domain account is
    // of "Domain Users".
    token.groups.push_back({store.domain_users_sid(), kGroupDefault});
    // Local groups hold users directly or through the well-known groups of every sign-in.
    const std::string domain_users = store.domain_users_sid();
    const std::string_view implied[] = {kEveryoneSid, kInteractiveSid, kAuthenticatedUsersSid,
                                        domain_users};
    for (const auto& group : store.groups) {
        bool member = false;
        for (const auto& sid : group.members) {
            member = member || same_sid(sid, user.sid);
            for (const auto well_known : implied)
                member = member || same_sid(sid, well_known);
        }
        if (!member)
            continue;
        DWORD attributes = kGroupDefault;
        if (same_sid(group.sid, kAdministratorsSid))
            attributes = full_administrator ? kGroupDefault | kGroupOwner : kGroupUseForDenyOnly;
        token.groups.push_back({group.sid, attributes});
    }
    token.groups.push_back({std::string(kInteractiveSid), kGroupDefault});
    token.groups.push_back({std::string(kConsoleLogonSid), kGroupDefault});
    token.groups.push_back({std::string(kAuthenticatedUsersSid), kGroupDefault});
    token.groups.push_back({std::string(kThisOrganizationSid), kGroupDefault});
    token.groups.push_back({logon_sid, kGroupLogonId | kGroupDefault});
    token.groups.push_back({std::string(kLocalSid), kGroupDefault});
    token.groups.push_back(
        {std::string(full_administrator ? kHighIntegritySid : kMediumIntegritySid),
         kGroupIntegrity});
    token.privileges = privileges_for(full_administrator);
    // Objects a process creates are its owner's (Administrators when elevated) and SYSTEM's,
    // and readable by its logon session.
    const std::string owner = full_administrator ? std::string(kAdministratorsSid) : user.sid;
    token.default_dacl = std::vector<AccessEntry>{
        {0, 0, 0x10000000 /* GENERIC_ALL */, owner},
        {0, 0, 0x10000000, std::string(kLocalSystemSid)},
        {0, 0, 0x80000000 | 0x20000000 /* GENERIC_READ | GENERIC_EXECUTE */, logon_sid},
    };
    return token;
}

TokenState interactive_administrator_token() {
    const AccountStore store = read_accounts();
    return interactive_administrator_token(store.interactive_elevated);
}

TokenState interactive_administrator_token(bool elevated) {
    const AccountStore store = read_accounts();
    const LocalUser* administrator = store.find_user_by_sid(store.machine_sid + "-500");
    // A machine whose administrator was deleted still has someone at the console.
    LocalUser fallback;
    fallback.name = kInteractiveAdministrator;
    fallback.sid = store.machine_sid + "-500";
    return sign_in_token(store, administrator != nullptr ? *administrator : fallback,
                         store.interactive_logon_id, elevated);
}

}  // namespace winsim
