#include "accounts/account_names.h"

#include <array>
#include <vector>

#include "machine/ascii_text.h"
#include "security/sid.h"

namespace winsim {
namespace {

constexpr std::string_view kBuiltinDomain = "BUILTIN";
constexpr std::string_view kBuiltinDomainSid = "S-1-5-32";
constexpr std::string_view kNtAuthority = "NT AUTHORITY";

constexpr std::string_view kNtService = "NT SERVICE";
constexpr std::string_view kMandatoryLabel = "Mandatory Label";

struct WellKnown {
    std::string_view sid;
    std::string_view domain;
    std::string_view name;
    SID_NAME_USE use = SidTypeWellKnownGroup;
};

// The English names Windows gives the identities the program meets, and those an owner could
// be mistaken for (Microsoft's list of well-known SIDs); integrity levels are labels.
constexpr std::array<WellKnown, 17> kWellKnown{{
    {"S-1-1-0", "", "Everyone"},
    {"S-1-2-0", "", "LOCAL"},
    {"S-1-2-1", "", "CONSOLE LOGON"},
    {"S-1-3-0", "", "CREATOR OWNER"},
    {"S-1-5-2", kNtAuthority, "NETWORK"},
    {"S-1-5-4", kNtAuthority, "INTERACTIVE"},
    {"S-1-5-6", kNtAuthority, "SERVICE"},
    {"S-1-5-7", kNtAuthority, "ANONYMOUS LOGON"},
    {"S-1-5-11", kNtAuthority, "Authenticated Users"},
    {"S-1-5-15", kNtAuthority, "This Organization"},
    {"S-1-5-18", kNtAuthority, "SYSTEM"},
    {"S-1-5-19", kNtAuthority, "LOCAL SERVICE"},
    {"S-1-5-20", kNtAuthority, "NETWORK SERVICE"},
    {"S-1-5-113", kNtAuthority, "Local account"},
    {"S-1-5-80-0", kNtService, "ALL SERVICES"},
    {"S-1-16-8192", kMandatoryLabel, "Medium Mandatory Level", SidTypeLabel},
    {"S-1-16-12288", kMandatoryLabel, "High Mandatory Level", SidTypeLabel},
}};

// The workstation's name for its domain's "Domain Users" group, which holds every account.
constexpr std::string_view kDomainUsersName = "None";

// Every name the machine knows, in the order a bare name is looked for.
std::vector<AccountName> directory(const AccountStore& store) {
    std::vector<AccountName> names;
    for (const auto& known : kWellKnown)
        names.push_back({std::string(known.sid), std::string(known.domain), std::string(known.name),
                         known.use});
    for (const auto& group : store.groups)
        if (is_builtin_sid(group.sid))
            names.push_back({group.sid, std::string(kBuiltinDomain), group.name, SidTypeAlias});
    for (const auto& user : store.users)
        names.push_back({user.sid, store.computer_name, user.name, SidTypeUser});
    for (const auto& group : store.groups)
        if (!is_builtin_sid(group.sid))
            names.push_back({group.sid, store.computer_name, group.name, SidTypeAlias});
    // A global group of the account database, not a local group: netapi32's local group calls
    // do not see it.
    names.push_back({store.domain_users_sid(), store.computer_name, std::string(kDomainUsersName),
                     SidTypeGroup});
    names.push_back({std::string(kBuiltinDomainSid), std::string(kBuiltinDomain),
                     std::string(kBuiltinDomain), SidTypeDomain});
    names.push_back({store.machine_sid, store.computer_name, store.computer_name, SidTypeDomain});
    return names;
}

}  // namespace

bool is_builtin_sid(std::string_view sid) {
    const auto canonical = canonical_sid_text(sid);
    return canonical && canonical->starts_with(std::string(kBuiltinDomainSid) + "-");
}

std::optional<AccountName> account_named(const AccountStore& store, std::string_view text) {
    std::optional<std::string_view> domain;
    std::string_view name = text;
    if (const auto slash = text.find('\\'); slash != std::string_view::npos) {
        domain = text.substr(0, slash);
        name = text.substr(slash + 1);
    }
    if (name.empty())
        return std::nullopt;
    for (auto& entry : directory(store)) {
        if (!equal_ignoring_ascii_case(entry.name, name))
            continue;
        // A domain names itself with its own name alone, never as "DOMAIN\DOMAIN".
        if (domain &&
            (entry.use == SidTypeDomain || !equal_ignoring_ascii_case(entry.domain, *domain)))
            continue;
        return entry;
    }
    return std::nullopt;
}

std::optional<AccountName> account_with_sid(const AccountStore& store, std::string_view sid) {
    for (auto& entry : directory(store))
        if (same_sid(entry.sid, sid))
            return entry;
    return std::nullopt;
}

}  // namespace winsim
