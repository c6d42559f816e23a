#pragma once
// Who a name or a SID is on the simulated machine, as LookupAccountNameW and
// LookupAccountSidW report it: the machine's accounts, local groups and its "None" group
// (domain: the machine's name), the built-in groups (BUILTIN), the well-known identities (NT
// AUTHORITY, NT SERVICE, Mandatory Label, or no domain for Everyone and the like) and the two
// domains themselves. A logon SID maps to nothing, as LookupAccountSid's documentation says.

#include <winsim/accounts.h>

#include <optional>
#include <string>
#include <string_view>

#include "accounts/accounts.h"

namespace winsim {

struct AccountName {
    std::string sid;
    std::string domain;
    std::string name;
    SID_NAME_USE use = SidTypeUnknown;
};

// "name" or "DOMAIN\name", compared without regard to ASCII case. A bare name is looked for
// among the well-known identities, the built-in groups, the machine's accounts and local
// groups, and the domain names, in that order.
std::optional<AccountName> account_named(const AccountStore& store, std::string_view text);

std::optional<AccountName> account_with_sid(const AccountStore& store, std::string_view sid);

// The built-in groups live in the BUILTIN domain, S-1-5-32.
bool is_builtin_sid(std::string_view sid);

}  // namespace winsim
