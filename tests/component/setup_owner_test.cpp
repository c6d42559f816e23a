// The owner test on the simulated host: which SIDs may own an installation as Windows' account
// lookup places them, and every failure of the lookups, with what they took given back.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <nlohmann/json.hpp>

#include "support/fault_row.h"
#include "support/leak_checked_test.h"
#include "windows/security/sid_conversion.h"
#include "windows/setup/setup_owner.h"

namespace quarvel {
namespace {

const Failure kNotAUserAccount =
    fixed_failure("invalid_request", "Owner SID must name a user account.", 64);

class SetupOwner : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        machine_sid_ = nlohmann::json::parse(winsim::accounts_json())["machine_sid"];
        group_ = winsim::ensure_local_group("QuarvelSandboxUsers");
        online_ = winsim::ensure_local_user("QuarvelSandboxOnline", "pw-online");
        offline_ = winsim::ensure_local_user("QuarvelSandboxNoNet", "pw-offline");
        alice_ = winsim::ensure_local_user("alice", "pw-alice");
        team_ = winsim::ensure_local_group("team");
    }

    static Result<void> judge(const std::string& text) {
        auto sid = sid_from_string(text);
        if (!sid)
            return std::unexpected(sid.error());
        return require_user_account_owner(*sid);
    }

    std::string machine_sid_, group_, online_, offline_, alice_, team_;
};

TEST_F(SetupOwner, OnlyUserAccountsAndTheKeepersMayOwnAnInstallation) {
    const struct {
        std::string what;
        std::string sid;
        bool accepted;
    } rows[] = {
        {"a local user", alice_, true},
        {"the built-in Administrator", machine_sid_ + "-500", true},
        {"a domain user no lookup can map", "S-1-5-21-1-2-3-1104", true},
        {"an Azure AD user no lookup can map", "S-1-12-1-1-2-3-4", true},
        {"the protected group", group_, false},
        {"another local group", team_, false},
        {"the online account", online_, false},
        {"the offline account", offline_, false},
        {"Users, by its form", "S-1-5-32-545", false},
    };
    for (const auto& row : rows) {
        const auto judged = judge(row.sid);
        if (row.accepted) {
            EXPECT_TRUE(judged) << row.what << ": " << judged.error().message;
        } else {
            ASSERT_FALSE(judged) << row.what;
            EXPECT_EQ(judged.error(), kNotAUserAccount) << row.what;
        }
    }
}

TEST_F(SetupOwner, EveryLookupFailureGivesItsRowAndAnUnmappedSidPasses) {
    using winsim::FaultKind;
    const struct {
        std::string sid;
        testing::FaultRow fault;
    } rows[] = {
        {alice_,
         {"LookupAccountSidW", 1, 5, FaultKind::fail, "account_lookup_failed",
          "Could not resolve owner account. Windows error 5."}},
        {alice_,
         {"LookupAccountSidW", 2, 8, FaultKind::fail, "account_lookup_failed",
          "Could not resolve owner account. Windows error 8."}},
        {online_,
         {"LookupAccountNameW", 1, 1332, FaultKind::fail, "account_lookup_failed",
          "Could not size account security identifier. Windows error 1332."}},
        {offline_,
         {"LookupAccountNameW", 2, 5, FaultKind::fail, "account_lookup_failed",
          "Could not resolve account security identifier. Windows error 5."}},
    };
    for (const auto& row : rows) {
        testing::arm(row.fault);
        const auto judged = judge(row.sid);
        ASSERT_FALSE(judged) << row.fault.function;
        testing::expect_row_failure(judged.error(), row.fault);
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << row.fault.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.fault.function;
    }
    // ERROR_NONE_MAPPED is how Windows says no lookup can map the SID, at either call: the owner
    // passes, even a group (the lookup is all that could tell).
    for (const std::uint64_t nth : {1u, 2u}) {
        winsim::inject_fault("LookupAccountSidW", 1332, nth);
        EXPECT_TRUE(judge(team_)) << nth;
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << nth;
    }
}

}  // namespace
}  // namespace quarvel
