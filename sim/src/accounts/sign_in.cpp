#include "accounts/sign_in.h"

#include <winsim/accounts.h>

#include <filesystem>

#include "files/file_paths.h"
#include "files/file_security.h"
#include "machine/ascii_text.h"
#include "machine/wtf8.h"
#include "security/sid.h"

namespace winsim {
namespace {

constexpr DWORD kBuiltInAdministratorRid = 500;

bool names_this_machine(LPCWSTR domain, const AccountStore& store) {
    if (domain == nullptr)
        return false;
    const std::string text = wtf8_from_utf16(domain);
    return text == "." || equal_ignoring_ascii_case(text, store.computer_name);
}

bool holds_any(const TokenState& token, const std::vector<std::string>& sids) {
    for (const auto& sid : sids) {
        if (same_sid(token.user, sid))
            return true;
        for (const auto& group : token.groups)
            if (same_sid(group.sid, sid))
                return true;
    }
    return false;
}

// With User Account Control an administrator's interactive sign-in yields the filtered token;
// the built-in Administrator runs without Admin Approval Mode and keeps the full one.
bool signs_in_elevated(const AccountStore& store, const LocalUser& user) {
    return same_sid(user.sid, store.machine_sid + "-" + std::to_string(kBuiltInAdministratorRid));
}

bool is_directory(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

// The list Windows gives a new profile folder: the account, SYSTEM and Administrators with full
// control, inherited by everything in it, and nothing from C:\Users; the account owns it.
SecurityDescription profile_security(const std::string& account_sid) {
    constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    SecurityDescription description;
    description.control = SE_DACL_PRESENT | SE_DACL_PROTECTED;
    description.owner = account_sid;
    description.dacl = std::vector<AccessEntry>{
        {ACCESS_ALLOWED_ACE_TYPE, kInherited, FILE_ALL_ACCESS, "S-1-5-18"},
        {ACCESS_ALLOWED_ACE_TYPE, kInherited, FILE_ALL_ACCESS, "S-1-5-32-544"},
        {ACCESS_ALLOWED_ACE_TYPE, kInherited, FILE_ALL_ACCESS, account_sid}};
    return description;
}

}  // namespace

std::variant<SignIn, DWORD> sign_in_interactively(LPCWSTR user_name, LPCWSTR domain,
                                                  LPCWSTR password) {
    const AccountStore store = read_accounts();
    if (user_name == nullptr || !names_this_machine(domain, store))
        return static_cast<DWORD>(ERROR_LOGON_FAILURE);
    const LocalUser* user = store.find_user(wtf8_from_utf16(user_name));
    const std::string given = password != nullptr ? wtf8_from_utf16(password) : std::string();
    if (user == nullptr || user->password != given)
        return static_cast<DWORD>(ERROR_LOGON_FAILURE);
    if (given.empty())
        return static_cast<DWORD>(ERROR_ACCOUNT_RESTRICTION);
    if ((user->flags & kAccountDisabled) != 0)
        return static_cast<DWORD>(ERROR_ACCOUNT_DISABLED);
    if ((user->flags & kAccountLockedOut) != 0)
        return static_cast<DWORD>(ERROR_ACCOUNT_LOCKED_OUT);
    // User rights are held by the account or by any group of its sign-in, deny-only ones too.
    const bool elevated = signs_in_elevated(store, *user);
    const TokenState candidate = sign_in_token(store, *user, 0, elevated);
    if (holds_any(candidate, store.deny_interactive_logon) ||
        !holds_any(candidate, store.interactive_logon))
        return static_cast<DWORD>(ERROR_LOGON_TYPE_NOT_GRANTED);
    return SignIn{*user, store.computer_name,
                  sign_in_token(store, *user, allocate_logon_id(), elevated)};
}

std::optional<std::u16string> ensure_profile(const LocalUser& user) {
    std::string profile;
    const bool locked = update_accounts([&](AccountStore& store) {
        LocalUser* account = store.find_user_by_sid(user.sid);
        if (account == nullptr)
            return false;
        const auto recorded = account->profile.empty()
                                  ? std::nullopt
                                  : std::optional(host_path_for(utf16_from_wtf8(account->profile)));
        if (recorded && *recorded && is_directory(**recorded)) {
            profile = account->profile;
            return false;
        }
        profile = "C:\\Users\\" + account->name;
        auto host = host_path_for(utf16_from_wtf8(profile));
        if (host && is_directory(*host)) {
            profile += "." + store.computer_name;
            host = host_path_for(utf16_from_wtf8(profile));
        }
        if (!host)
            return false;
        std::error_code ignored;
        std::filesystem::create_directories(*host + "/AppData/Local/Temp", ignored);
        std::filesystem::create_directories(*host + "/AppData/Roaming", ignored);
        // Its folders have no list of their own: they inherit the profile's.
        if (const auto resolved = resolved_object_path(*host, false))
            (void)store_security(*resolved, profile_security(account->sid));
        account->profile = profile;
        return true;
    });
    if (!locked)
        return std::nullopt;
    return utf16_from_wtf8(profile);
}

}  // namespace winsim
