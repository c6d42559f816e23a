#pragma once
// The simulated machine's local accounts and groups (the security accounts database), kept
// in the machine state document "accounts.json" so that every process of the machine sees
// the same accounts. Created on first use with a machine SID "S-1-5-21-a-b-c" drawn at random,
// the built-in Administrators and Users groups, and the interactive administrator that a
// process started from a shell runs as.

#include <winsim/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "security/token.h"

namespace winsim {

inline constexpr std::string_view kEveryoneSid = "S-1-1-0";
inline constexpr std::string_view kLocalSid = "S-1-2-0";
inline constexpr std::string_view kConsoleLogonSid = "S-1-2-1";
inline constexpr std::string_view kInteractiveSid = "S-1-5-4";
inline constexpr std::string_view kAuthenticatedUsersSid = "S-1-5-11";
inline constexpr std::string_view kThisOrganizationSid = "S-1-5-15";
inline constexpr std::string_view kLocalSystemSid = "S-1-5-18";
inline constexpr std::string_view kAdministratorsSid = "S-1-5-32-544";
inline constexpr std::string_view kUsersSid = "S-1-5-32-545";
inline constexpr std::string_view kMediumIntegritySid = "S-1-16-8192";
inline constexpr std::string_view kHighIntegritySid = "S-1-16-12288";

// The account a shell-started process runs as (relative identifier 500).
inline constexpr std::string_view kInteractiveAdministrator = "Administrator";

// USER_INFO_1 flags the simulated host interprets. A locked-out account carries UF_LOCKOUT
// among its flags, as NetUserGetInfo reports it.
inline constexpr DWORD kAccountDisabled = 0x0002;   // UF_ACCOUNTDISABLE
inline constexpr DWORD kAccountLockedOut = 0x0010;  // UF_LOCKOUT
inline constexpr DWORD kNormalAccount = 0x0200;     // UF_NORMAL_ACCOUNT

// The group every account of the machine's domain belongs to: "None" on a workstation
// (DOMAIN_GROUP_RID_USERS, the domain's "Domain Users").
inline constexpr DWORD kDomainUsersRid = 513;

struct LocalUser {
    std::string name;
    std::string sid;
    std::string password;
    std::string comment;
    DWORD flags = 0;
    DWORD privilege = 1;  // USER_PRIV_USER
    std::string home_directory;
    std::string script_path;
    // The profile folder (Windows path), once a sign-in with profile has made it.
    std::string profile;
};

struct LocalGroup {
    std::string name;
    std::string sid;
    std::string comment;
    std::vector<std::string> members;  // member SIDs: users, or well-known groups such as S-1-5-11
};

struct AccountStore {
    std::string machine_sid;
    DWORD next_rid = 1000;
    DWORD next_logon_id = 0x10000;
    DWORD interactive_logon_id = 0;
    // Whether a process started from a shell gets the elevated or the filtered token.
    bool interactive_elevated = true;
    std::vector<LocalUser> users;
    std::vector<LocalGroup> groups;
    // The name the machine's account domain goes by (LookupAccountSidW's domain for them).
    std::string computer_name = "WINSIM-PC";
    // SIDs holding the user rights SeInteractiveLogonRight and SeDenyInteractiveLogonRight;
    // Windows grants the first to Administrators, Users and Backup Operators.
    std::vector<std::string> interactive_logon{"S-1-5-32-544", "S-1-5-32-545", "S-1-5-32-551"};
    std::vector<std::string> deny_interactive_logon;

    // Names are compared without regard to ASCII case, as Windows compares account names.
    LocalUser* find_user(std::string_view name);
    const LocalUser* find_user(std::string_view name) const;
    LocalGroup* find_group(std::string_view name);
    const LocalGroup* find_group(std::string_view name) const;
    LocalUser* find_user_by_sid(std::string_view sid);
    const LocalUser* find_user_by_sid(std::string_view sid) const;
    const LocalGroup* find_group_by_sid(std::string_view sid) const;

    // A new account SID in the machine's domain.
    std::string allocate_user_sid();
    // The SID of the machine's "None" group.
    std::string domain_users_sid() const;
};

nlohmann::json accounts_to_json(const AccountStore& store);
AccountStore accounts_from_json(const nlohmann::json& value);

// The machine's accounts, created with their defaults on first use.
AccountStore read_accounts();
// Runs `change` under the machine lock; the store is written back when it returns true. False
// (with the last error set) when the machine's state cannot be locked: nothing ran.
bool update_accounts(const std::function<bool(AccountStore&)>& change);

// A fresh logon session number for a sign-in (its logon SID is "S-1-5-5-0-<n>").
DWORD allocate_logon_id();

// The token of a sign-in of `user` in logon session `logon_id`: the user, Everyone, the
// machine's "None" group, the local groups that hold the user or one of the well-known groups every
// interactive sign-in has, Interactive, Authenticated Users, the logon SID and an integrity label.
// An administrator's token is elevated when `elevated`; otherwise Administrators is deny-only and
// the privileges are those of a standard user, as in a filtered (UAC) token.
TokenState sign_in_token(const AccountStore& store, const LocalUser& user, DWORD logon_id,
                         bool elevated);

// The token of a process started from a shell on this machine: the interactive
// administrator in the machine's interactive logon session, elevated unless the machine's
// accounts say otherwise.
TokenState interactive_administrator_token();
TokenState interactive_administrator_token(bool elevated);

}  // namespace winsim
