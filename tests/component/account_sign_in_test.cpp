// Sign-in verification of a protected account on the simulated host: a prepared account passes,
// each way of tampering with it outside setup fails with its own message, and every platform
// failure gives its row with the token closed.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>

#include "support/fault_row.h"
#include "support/leak_checked_test.h"
#include "windows/security/sid_conversion.h"
#include "windows/setup/account_verification.h"

namespace quarvel {
namespace {

constexpr const char* kAccount = "QuarvelSandboxOnline";
constexpr const char* kPassword = "Qv7!0123456789abcdef";

class AccountSignIn : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        group_sid_ = winsim::ensure_local_group("QuarvelSandboxUsers");
        account_sid_ = winsim::ensure_local_user(kAccount, kPassword);
        winsim::add_local_group_member("QuarvelSandboxUsers", account_sid_);
        group_.emplace(*sid_from_string(group_sid_));
        machine_sid_ = nlohmann::json::parse(winsim::accounts_json())["machine_sid"];
        owner_.emplace(*sid_from_string(machine_sid_ + "-500"));
        count_resources_from_now();
    }
    Result<void> verify() { return verify_account_sign_in(kAccount, kPassword, *group_, *owner_); }

    std::string group_sid_;
    std::optional<OwnedSid> group_;
    std::string account_sid_;
    std::string machine_sid_;
    std::optional<OwnedSid> owner_;
};

TEST_F(AccountSignIn, PreparedAccountPasses) {
    EXPECT_TRUE(verify());
    EXPECT_TRUE(verify_account_sign_in("quarvelsandboxonline", kPassword, *group_, *owner_));
}

TEST_F(AccountSignIn, EachTamperingOutsideSetupFailsWithItsOwnMessage) {
    const Failure unsafe =
        fixed_failure("account_verification_failed",
                      "Protected command account has unsafe group membership.", 70);
    const auto refused = [](int error) {
        return fixed_failure("account_logon_failed",
                             "Could not sign in to protected command account. Windows error " +
                                 std::to_string(error) + ".",
                             70);
    };
    const struct {
        const char* tampering;
        std::function<void(const std::string&)> apply;
        Failure failure;
    } rows[] = {
        {"password changed", [](auto&) { winsim::set_local_user_password(kAccount, "other"); },
         refused(1326)},
        // With User Account Control the sign-in token holds Administrators for denial only.
        {"made an administrator",
         [](auto& sid) { winsim::add_local_group_member("Administrators", sid); }, unsafe},
        {"taken out of the group",
         [](auto& sid) { winsim::remove_local_group_member("QuarvelSandboxUsers", sid); }, unsafe},
        {"disabled", [](auto&) { winsim::set_local_user_disabled(kAccount, true); }, refused(1331)},
        {"locked out", [](auto&) { winsim::set_local_user_locked_out(kAccount, true); },
         refused(1909)},
        {"denied interactive sign-in", [](auto&) { winsim::deny_interactive_logon(kAccount); },
         refused(1385)},
    };
    for (const auto& row : rows) {
        SetUp();  // a fresh machine with the prepared account for each row
        row.apply(account_sid_);
        auto verified = verify();
        ASSERT_FALSE(verified) << row.tampering;
        EXPECT_EQ(verified.error(), row.failure) << row.tampering;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.tampering;
    }
}

// The owner reads the stored passwords: an account whose token holds it, as its user or as a
// group with any attributes (the integrity label is held, but as no enabled group), is unsafe.
TEST_F(AccountSignIn, AccountThatIsOrHoldsTheOwnerIsUnsafe) {
    const struct {
        std::string what;
        std::string owner;
        bool safe;
    } rows[] = {
        {"the machine's Administrator", machine_sid_ + "-500", true},
        {"Administrators", "S-1-5-32-544", true},
        {"another user", winsim::ensure_local_user("alice", "pw"), true},
        {"the account itself", account_sid_, false},
        {"Users", "S-1-5-32-545", false},
        {"the machine's None group", machine_sid_ + "-513", false},
        {"the medium integrity label", "S-1-16-8192", false},
    };
    for (const auto& row : rows) {
        const auto owner = sid_from_string(row.owner);
        ASSERT_TRUE(owner) << row.what;
        const auto verified = verify_account_sign_in(kAccount, kPassword, *group_, *owner);
        if (row.safe) {
            EXPECT_TRUE(verified) << row.what << ": " << verified.error().message;
        } else {
            ASSERT_FALSE(verified) << row.what;
            EXPECT_EQ(verified.error(),
                      fixed_failure("account_verification_failed",
                                    "Protected command account has unsafe group membership.", 70))
                << row.what;
        }
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.what;
    }
}

TEST_F(AccountSignIn, EveryPlatformFailureGivesItsRowAndClosesTheToken) {
    using winsim::FaultKind;
    const testing::FaultRow rows[] = {
        {"LogonUserW", 1, 1326, FaultKind::fail, "account_logon_failed",
         "Could not sign in to protected command account. Windows error 1326."},
        {"LogonUserW", 1, 6, FaultKind::quirk, "account_logon_failed",
         "Could not open account token. Windows error 6."},
        {"ConvertStringSidToSidW", 1, 8, FaultKind::fail, "invalid_sid",
         "Could not parse security identifier. Windows error 8."},
        {"GetTokenInformation", 1, 5, FaultKind::fail, "account_verification_failed",
         "Could not verify protected account privileges. Windows error 5."},
        {"GetTokenInformation", 2, 998, FaultKind::fail, "account_verification_failed",
         "Could not verify protected account privileges. Windows error 998."},
        {"GetTokenInformation", 2, 16, FaultKind::quirk, "account_verification_failed",
         "Could not verify protected account privileges."},
        {"DuplicateToken", 1, 5, FaultKind::fail, "account_verification_failed",
         "Could not verify protected account membership. Windows error 5."},
        {"CheckTokenMembership", 1, 1309, FaultKind::fail, "account_verification_failed",
         "Could not verify protected account membership. Windows error 1309."},
        {"GetTokenInformation", 3, 5, FaultKind::fail, "account_verification_failed",
         "Could not verify protected account identity. Windows error 5."},
        {"GetTokenInformation", 4, 998, FaultKind::fail, "account_verification_failed",
         "Could not verify protected account identity. Windows error 998."},
    };
    for (const auto& row : rows) {
        testing::arm(row);
        auto verified = verify();
        ASSERT_FALSE(verified) << row.function;
        testing::expect_row_failure(verified.error(), row);
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << row.function;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
}

}  // namespace
}  // namespace quarvel
