#include "windows/setup/setup_owner.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/security/account_lookup.h"
#include "windows/security/os_failure.h"
#include "windows/setup/protected_accounts.h"

namespace quarvel {
namespace {

// Authorities (winnt.h's SECURITY_*_AUTHORITY) whose SIDs are identities and never accounts:
// null, world, local, creator, non-unique, resource manager, app package (app containers and
// capabilities), mandatory label, scoped policy, authentication and process trust.
constexpr std::uint64_t kIdentityAuthorities[] = {0, 1, 2, 3, 4, 9, 15, 16, 17, 18, 19};
constexpr std::uint64_t kNtAuthority = 5;
constexpr std::uint32_t kLocalSystemRid = 18;
constexpr std::uint32_t kBuiltinDomainRid = 32;
constexpr std::uint32_t kAdministratorsRid = 544;
// S-1-5-21-a-b-c is a machine's or a domain's account domain; its accounts add one RID.
constexpr std::uint32_t kAccountDomainRid = 21;
constexpr std::size_t kAccountSubAuthorities = 5;
// Below 1000 a domain's RIDs are reserved for its well-known accounts and groups; of those,
// 500 to 504 are users (Administrator, Guest, krbtgt, DefaultAccount, WDAGUtilityAccount), the
// others groups and aliases such as Domain Admins (512) and Domain Users, a workstation's
// "None" (513).
constexpr std::uint32_t kFirstOrdinaryRid = 1000;
constexpr std::uint32_t kFirstReservedUserRid = 500;
constexpr std::uint32_t kLastReservedUserRid = 504;

struct SidParts {
    std::uint64_t authority = 0;
    std::vector<std::uint32_t> sub_authorities;
};

SidParts parts_of(const OwnedSid& sid) {
    const auto* bytes = static_cast<const BYTE*>(sid.get());
    SidParts parts;
    for (std::size_t k = 2; k < 8; ++k)
        parts.authority = (parts.authority << 8) | bytes[k];
    // Sub-authorities are stored least significant byte first.
    for (std::size_t at = 8; at + 4 <= sid.size() && parts.sub_authorities.size() < bytes[1];
         at += 4)
        parts.sub_authorities.push_back(static_cast<std::uint32_t>(bytes[at]) |
                                        static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
                                        static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
                                        static_cast<std::uint32_t>(bytes[at + 3]) << 24);
    return parts;
}

OwnerForm nt_owner_form(const std::vector<std::uint32_t>& rids) {
    if (rids == std::vector<std::uint32_t>{kLocalSystemRid} ||
        rids == std::vector<std::uint32_t>{kBuiltinDomainRid, kAdministratorsRid})
        return OwnerForm::keeper;
    // Everything else of the NT authority outside the account domains is a well-known identity:
    // logon sessions, services, built-in aliases, authentication packages and the like.
    if (rids.empty() || rids[0] != kAccountDomainRid || rids.size() < kAccountSubAuthorities)
        return OwnerForm::identity;
    const std::uint32_t rid = rids.back();
    if (rids.size() == kAccountSubAuthorities && rid < kFirstOrdinaryRid &&
        (rid < kFirstReservedUserRid || rid > kLastReservedUserRid))
        return OwnerForm::identity;
    return OwnerForm::account;
}

Failure not_a_user_account() {
    return fixed_failure("invalid_request", "Owner SID must name a user account.",
                         exit_code::invalid_request);
}

struct MappedAccount {
    std::string name;
    SID_NAME_USE use{};
};

// What Windows says the SID is; nothing when no lookup can map it.
Result<std::optional<MappedAccount>> look_up(const OwnedSid& owner) {
    constexpr std::string_view kCode = "account_lookup_failed";
    constexpr std::string_view kMessage = "Could not resolve owner account.";
    DWORD name_size = 0;
    DWORD domain_size = 0;
    SID_NAME_USE use{};
    // Without buffers the call can only fail; what matters is that it fails for size alone.
    LookupAccountSidW(nullptr, owner.get(), nullptr, &name_size, nullptr, &domain_size, &use);
    if (GetLastError() == ERROR_NONE_MAPPED)
        return std::nullopt;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::unexpected(os_failure(kCode, kMessage));

    std::vector<WCHAR> name(name_size);
    std::vector<WCHAR> domain(domain_size);
    if (!LookupAccountSidW(nullptr, owner.get(), name.data(), &name_size, domain.data(),
                           &domain_size, &use)) {
        if (GetLastError() == ERROR_NONE_MAPPED)
            return std::nullopt;
        return std::unexpected(os_failure(kCode, kMessage));
    }
    while (!name.empty() && name.back() == 0)
        name.pop_back();
    return MappedAccount{narrow_lossy(WideView(name.data(), name.size())), use};
}

bool same_account_name(std::string_view a, std::string_view b) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return fold(x) == fold(y); });
}

// A user that bears a protected account's name is that account when the name resolves to it
// (a domain user of the same name is someone else).
Result<bool> is_protected_account(const OwnedSid& owner, std::string_view name) {
    for (const std::string_view protected_name : {kOnlineAccountName, kOfflineAccountName}) {
        if (!same_account_name(name, protected_name))
            continue;
        auto sid = lookup_account_sid(protected_name);
        if (!sid)
            return std::unexpected(std::move(sid.error()));
        return is_same_sid(*sid, owner.get());
    }
    return false;
}

}  // namespace

OwnerForm owner_form(const OwnedSid& owner) {
    const SidParts parts = parts_of(owner);
    if (parts.authority == kNtAuthority)
        return nt_owner_form(parts.sub_authorities);
    if (std::find(std::begin(kIdentityAuthorities), std::end(kIdentityAuthorities),
                  parts.authority) != std::end(kIdentityAuthorities))
        return OwnerForm::identity;
    return OwnerForm::account;
}

Result<void> require_user_account_owner(const OwnedSid& owner) {
    switch (owner_form(owner)) {
        case OwnerForm::keeper:
            return {};
        case OwnerForm::identity:
            return std::unexpected(not_a_user_account());
        case OwnerForm::account:
            break;
    }
    auto mapped = look_up(owner);
    if (!mapped)
        return std::unexpected(std::move(mapped.error()));
    if (!*mapped || (*mapped)->use == SidTypeUnknown)
        return {};
    if ((*mapped)->use != SidTypeUser)
        return std::unexpected(not_a_user_account());
    auto is_protected = is_protected_account(owner, (*mapped)->name);
    if (!is_protected)
        return std::unexpected(std::move(is_protected.error()));
    if (*is_protected)
        return std::unexpected(not_a_user_account());
    return {};
}

}  // namespace quarvel
