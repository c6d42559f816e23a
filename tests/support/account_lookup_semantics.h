#pragma once
// What LookupAccountNameW and LookupAccountSidW answer for identities every Windows knows,
// checked against whichever advapi32 the test binary links: the simulated host's in the host
// lane, Wine's in the Wine lane, so the two are held to the same answers. Header-only.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/security/sid_conversion.h"

namespace quarvel::testing {

struct KnownAccount {
    std::string sid;
    std::string name;
    std::string domain;
    SID_NAME_USE use;
};

inline const std::vector<KnownAccount>& well_known_accounts() {
    static const std::vector<KnownAccount> accounts = {
        {"S-1-5-32-545", "Users", "BUILTIN", SidTypeAlias},
        {"S-1-5-18", "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-1-0", "Everyone", "", SidTypeWellKnownGroup},
        {"S-1-5-19", "LOCAL SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-5-20", "NETWORK SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    };
    return accounts;
}

// Sizes first (122, name and domain counted with their zeros), then the answer (sizes without).
inline void expect_sid_lookup(const KnownAccount& account) {
    auto sid = sid_from_string(account.sid);
    ASSERT_TRUE(sid);
    DWORD name_size = 0, domain_size = 0;
    SID_NAME_USE use{};
    EXPECT_FALSE(
        LookupAccountSidW(nullptr, sid->get(), nullptr, &name_size, nullptr, &domain_size, &use));
    EXPECT_EQ(GetLastError(), 122u) << account.sid;
    EXPECT_EQ(name_size, account.name.size() + 1) << account.sid;
    EXPECT_EQ(domain_size, account.domain.size() + 1) << account.sid;
    std::vector<WCHAR> name(name_size), domain(domain_size);
    ASSERT_TRUE(LookupAccountSidW(nullptr, sid->get(), name.data(), &name_size, domain.data(),
                                  &domain_size, &use));
    EXPECT_EQ(narrow_lossy(name.data()), account.name);
    EXPECT_EQ(name_size, account.name.size());
    EXPECT_EQ(narrow_lossy(domain.data()), account.domain);
    EXPECT_EQ(domain_size, account.domain.size());
    EXPECT_EQ(use, account.use) << account.sid;
}

// Administrators by its name in any case: sizes first, a short SID buffer is refused for size
// again, then the SID, BUILTIN and the alias type.
inline void expect_administrators_name_lookup() {
    const WideString name = to_wide("administrators");
    DWORD sid_size = 0, domain_size = 0;
    SID_NAME_USE use{};
    EXPECT_FALSE(
        LookupAccountNameW(nullptr, name.c_str(), nullptr, &sid_size, nullptr, &domain_size, &use));
    EXPECT_EQ(GetLastError(), 122u);
    EXPECT_EQ(sid_size, 16u);
    EXPECT_EQ(domain_size, 8u);
    std::vector<BYTE> sid(sid_size);
    std::vector<WCHAR> domain(domain_size);
    DWORD short_size = sid_size - 1;
    EXPECT_FALSE(LookupAccountNameW(nullptr, name.c_str(), sid.data(), &short_size, domain.data(),
                                    &domain_size, &use));
    EXPECT_EQ(GetLastError(), 122u);
    ASSERT_TRUE(LookupAccountNameW(nullptr, name.c_str(), sid.data(), &sid_size, domain.data(),
                                   &domain_size, &use));
    EXPECT_EQ(*sid_to_string(sid.data()), "S-1-5-32-544");
    EXPECT_EQ(narrow_lossy(domain.data()), "BUILTIN");
    EXPECT_EQ(sid_size, 16u);
    EXPECT_EQ(domain_size, 7u);
    EXPECT_EQ(use, SidTypeAlias);
}

}  // namespace quarvel::testing
