// Account names and SIDs on the simulated host: lookup_account_sid over LookupAccountNameW, and
// the two lookup calls' size protocol, domains and account types as Windows reports them (the
// well-known part shared with the Wine lane).

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <nlohmann/json.hpp>

#include "platform/wide_text.h"
#include "support/account_lookup_semantics.h"
#include "support/fault_row.h"
#include "support/leak_checked_test.h"
#include "windows/security/account_lookup.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

class AccountLookup : public testing::LeakCheckedTest {};

std::string looked_up(std::string_view name) {
    auto sid = lookup_account_sid_text(name);
    return sid ? *sid : sid.error().message;
}

TEST_F(AccountLookup, FindsGroupsAccountsAndBuiltInNamesWithoutRegardToCase) {
    const std::string group = winsim::ensure_local_group("QuarvelSandboxUsers");
    const std::string account = winsim::ensure_local_user("QuarvelSandboxOnline", "pw");
    EXPECT_EQ(looked_up("QuarvelSandboxUsers"), group);
    EXPECT_EQ(looked_up("quarvelsandboxonline"), account);
    EXPECT_EQ(looked_up("WINSIM-PC\\QuarvelSandboxOnline"), account);
    EXPECT_EQ(looked_up("BUILTIN\\Users"), "S-1-5-32-545");
    EXPECT_EQ(looked_up("SYSTEM"), "S-1-5-18");
    EXPECT_EQ(looked_up("Everyone"), "S-1-1-0");
}

TEST_F(AccountLookup, MissingNameFailsTheSizeQueryWithNoneMapped) {
    EXPECT_EQ(lookup_account_sid("QuarvelSandboxUsers").error(),
              fixed_failure("account_lookup_failed",
                            "Could not size account security identifier. Windows error 1332.", 70));
    EXPECT_FALSE(lookup_account_sid("BUILTIN\\QuarvelSandboxUsers"));
}

TEST_F(AccountLookup, EachLookupFailureGivesItsRowAndFreesEverything) {
    winsim::ensure_local_group("QuarvelSandboxUsers");
    using winsim::FaultKind;
    const testing::FaultRow rows[] = {
        {"LookupAccountNameW", 1, 5, FaultKind::fail, "account_lookup_failed",
         "Could not size account security identifier. Windows error 5."},
        {"LookupAccountNameW", 2, 8, FaultKind::fail, "account_lookup_failed",
         "Could not resolve account security identifier. Windows error 8."},
        {"ConvertSidToStringSidW", 1, 8, FaultKind::fail, "sid_conversion_failed",
         "Could not format security identifier. Windows error 8."},
    };
    for (const auto& row : rows) {
        testing::arm(row);
        auto sid = lookup_account_sid_text("QuarvelSandboxUsers");
        ASSERT_FALSE(sid) << row.function;
        testing::expect_row_failure(sid.error(), row);
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_);
    }
}

TEST_F(AccountLookup, LookupsFollowTheSizeProtocolAndGiveNameDomainAndType) {
    testing::expect_administrators_name_lookup();
    auto accounts = testing::well_known_accounts();
    accounts.push_back(
        {winsim::ensure_local_user("worker", "pw"), "worker", "WINSIM-PC", SidTypeUser});
    // The workstation's name for its domain's Domain Users, a global group holding every account.
    const std::string machine_sid = nlohmann::json::parse(winsim::accounts_json())["machine_sid"];
    accounts.push_back({machine_sid + "-513", "None", "WINSIM-PC", SidTypeGroup});
    accounts.push_back({"S-1-16-8192", "Medium Mandatory Level", "Mandatory Label", SidTypeLabel});
    winsim::rename_local_group("S-1-5-32-545", "Benutzer");
    accounts[0].name = "Benutzer";
    for (const auto& account : accounts)
        testing::expect_sid_lookup(account);

    // An account of an unknown domain, and a logon session, which no account name stands for.
    for (const char* text : {"S-1-5-21-1-2-3-4000", "S-1-5-5-0-65536"}) {
        auto unknown = sid_from_string(text);
        DWORD name_size = 0, domain_size = 0;
        SID_NAME_USE use{};
        EXPECT_FALSE(LookupAccountSidW(nullptr, unknown->get(), nullptr, &name_size, nullptr,
                                       &domain_size, &use));
        EXPECT_EQ(GetLastError(), 1332u) << text;
    }
}

}  // namespace
}  // namespace quarvel
