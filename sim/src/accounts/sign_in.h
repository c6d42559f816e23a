#pragma once
// A sign-in to a local account with its password, as LogonUserW and CreateProcessWithLogonW
// perform it, and the profile folder a sign-in with profile makes.

#include <winsim/types.h>

#include <optional>
#include <string>
#include <variant>

#include "accounts/accounts.h"
#include "security/token.h"

namespace winsim {

struct SignIn {
    LocalUser user;
    std::string computer_name;
    TokenState token;  // a primary token of a fresh logon session
};

// The checks of an interactive sign-in, in Windows' order: the domain must be "." or the
// machine's name, the account must exist and the password match (else ERROR_LOGON_FAILURE), a
// blank password is refused (ERROR_ACCOUNT_RESTRICTION), then a disabled account
// (ERROR_ACCOUNT_DISABLED), a locked-out one (ERROR_ACCOUNT_LOCKED_OUT) and a missing or denied
// interactive sign-in right (ERROR_LOGON_TYPE_NOT_GRANTED). A null password is an empty one.
std::variant<SignIn, DWORD> sign_in_interactively(LPCWSTR user_name, LPCWSTR domain,
                                                  LPCWSTR password);

// The account's profile folder (Windows path), made on first use under C:\Users: the account's
// name, or the name and the machine's name when a folder of that name belongs to another
// account (one deleted and made again, say). Nothing, with the lock's error as the last error,
// when the machine's accounts cannot be locked.
std::optional<std::u16string> ensure_profile(const LocalUser& user);

}  // namespace winsim
