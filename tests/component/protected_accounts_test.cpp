// The protected group and accounts on the simulated host: made on a fresh machine, refreshed on
// a prepared one, the localised Users group, and every refusal netapi32 or the lookups can give.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <filesystem>
#include <functional>
#include <set>

#include "support/fault_row.h"
#include "support/leak_checked_test.h"
#include "windows/setup/account_password.h"
#include "windows/setup/builtin_users.h"
#include "windows/setup/protected_accounts.h"

namespace quarvel {
namespace {

nlohmann::json named(const std::string& list, std::string_view name) {
    const auto store = nlohmann::json::parse(winsim::accounts_json());
    for (const auto& entry : store[list])
        if (entry["name"] == name)
            return entry;
    return nullptr;
}

bool is_member(std::string_view group, std::string_view account) {
    const auto members = named("groups", group)["members"];
    return std::find(members.begin(), members.end(), named("users", account)["sid"]) !=
           members.end();
}

class ProtectedAccounts : public testing::LeakCheckedTest {
  protected:
    // The whole account part of setup, in its order.
    static Result<void> prepare(const std::string& password) {
        const std::function<Result<void>()> steps[] = {
            [] { return ensure_group(); },
            [&] { return ensure_account(kOnlineAccountName, password); },
            [] { return add_group_member(kProtectedGroupName, kOnlineAccountName); },
            [] { return add_to_builtin_users(kOnlineAccountName); }};
        for (const auto& step : steps)
            if (auto done = step(); !done)
                return done;
        return {};
    }
};

TEST_F(ProtectedAccounts, FreshMachineGetsTheGroupAndAnAccountWithItsSettings) {
    ASSERT_TRUE(prepare("Qv7!first"));
    EXPECT_EQ(named("groups", "QuarvelSandboxUsers")["comment"],
              "Quarvel protected command accounts");
    const auto account = named("users", "QuarvelSandboxOnline");
    EXPECT_EQ(account["password"], "Qv7!first");
    EXPECT_EQ(account["comment"], "Quarvel protected command account");
    EXPECT_EQ(account["flags"], 0x10241);  // netapi32 makes it a normal account
    EXPECT_EQ(account["privilege"], 1);
    EXPECT_TRUE(is_member("QuarvelSandboxUsers", "QuarvelSandboxOnline"));
    EXPECT_TRUE(is_member("Users", "QuarvelSandboxOnline"));
}

TEST_F(ProtectedAccounts, SecondRunOnAPreparedMachineResetsThePasswordAndTheFlags) {
    winsim::ensure_local_group("QuarvelSandboxUsers");
    const std::string sid = winsim::ensure_local_user("QuarvelSandboxOnline", "old");
    winsim::add_local_group_member("QuarvelSandboxUsers", sid);
    winsim::add_local_group_member("Users", sid);
    ASSERT_TRUE(prepare("Qv7!second"));
    const auto account = named("users", "QuarvelSandboxOnline");
    EXPECT_EQ(account["sid"], sid);
    EXPECT_EQ(account["password"], "Qv7!second");
    EXPECT_EQ(account["comment"], "");  // someone else's comment stays
    EXPECT_EQ(account["flags"], 0x10241);
    EXPECT_EQ(named("groups", "QuarvelSandboxUsers")["members"].size(), 1u);
}

// What an administrator or the lockout policy does to an account is undone: it is enabled,
// unlocked, its password never expires and cannot be changed by its own commands. Only an
// account of another type, which netapi32 cannot change, stays as it is and stops setup.
TEST_F(ProtectedAccounts, ExistingAccountGetsTheFlagsItWasCreatedWith) {
    const struct {
        const char* what;
        DWORD flags;           // left on the account since it was created
        std::uint32_t status;  // of the update, 0 when it passes
    } rows[] = {
        // Disabled, locked out, password may expire, may be changed and is not required.
        {"every flag but the type wrong", 0x02BA, 0},
        {"an account of another type", 0x0101, 87},
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(machine_);
        SetUp();
        ASSERT_TRUE(ensure_account(kOnlineAccountName, "Qv7!first")) << row.what;
        winsim::set_local_user_flags("QuarvelSandboxOnline", row.flags);
        const auto ensured = ensure_account(kOnlineAccountName, "Qv7!second");
        const auto account = named("users", "QuarvelSandboxOnline");
        EXPECT_EQ(account["password"], "Qv7!second") << row.what;
        if (row.status == 0) {
            EXPECT_TRUE(ensured) << row.what << ": " << ensured.error().message;
            EXPECT_EQ(account["flags"], 0x10241) << row.what;
        } else {
            ASSERT_FALSE(ensured) << row.what;
            EXPECT_EQ(ensured.error(),
                      fixed_failure("account_setup_failed",
                                    "Could not update protected account QuarvelSandboxOnline: " +
                                        std::to_string(row.status) + ".",
                                    70));
            EXPECT_EQ(account["flags"], row.flags) << row.what;
        }
    }
}

TEST_F(ProtectedAccounts, BuiltInUsersGroupIsJoinedUnderItsLocalName) {
    winsim::rename_local_group("S-1-5-32-545", "Benutzer");
    winsim::ensure_local_user("QuarvelSandboxOnline", "pw");
    EXPECT_EQ(*builtin_users_group_name(), "Benutzer");
    ASSERT_TRUE(add_to_builtin_users(kOnlineAccountName));
    EXPECT_TRUE(is_member("Benutzer", "QuarvelSandboxOnline"));
}

TEST_F(ProtectedAccounts, FilteredAdministratorIsRefusedByWindows) {
    const std::string token = winsim::process_token_json();
    winsim::set_process_token_json(winsim::administrator_token_json(false));
    EXPECT_EQ(
        ensure_group().error(),
        fixed_failure("group_setup_failed", "Could not create protected account group: 5.", 70));
    winsim::set_process_token_json(token);
}

TEST_F(ProtectedAccounts, GeneratedPasswordsHaveThePrefixAndSixtyFourHexDigits) {
    std::set<std::string> seen;
    for (int k = 0; k < 3; ++k) {
        auto password = generate_password();
        ASSERT_TRUE(password);
        ASSERT_EQ(password->size(), 68u);
        EXPECT_EQ(password->substr(0, 4), kPasswordPrefix);
        EXPECT_EQ(password->find_first_not_of("0123456789abcdef", 4), std::string::npos);
        seen.insert(*password);
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(ProtectedAccounts, EveryRefusalGivesItsRowAndExistingObjectsCountAsSuccess) {
    using winsim::FaultKind;
    const testing::FaultRow rows[] = {
        {"NetLocalGroupAdd", 1, 5, FaultKind::fail, "group_setup_failed",
         "Could not create protected account group: 5."},
        {"NetUserAdd", 1, 2245, FaultKind::fail, "account_setup_failed",
         "Could not create protected account QuarvelSandboxOnline: 2245."},
        {"NetUserSetInfo", 1, 5, FaultKind::fail, "account_setup_failed",
         "Could not update protected account QuarvelSandboxOnline: 5."},
        {"NetUserSetInfo", 2, 2221, FaultKind::fail, "account_setup_failed",
         "Could not update protected account QuarvelSandboxOnline: 2221."},
        {"NetLocalGroupAddMembers", 1, 5, FaultKind::fail, "account_group_failed",
         "Could not add QuarvelSandboxOnline to protected account group: 5."},
        {"NetLocalGroupAddMembers", 2, 1387, FaultKind::fail, "account_group_failed",
         "Could not add QuarvelSandboxOnline to protected account group: 1387."},
        {"ConvertStringSidToSidW", 1, 1337, FaultKind::fail, "invalid_sid",
         "Could not parse security identifier. Windows error 1337."},
        {"LookupAccountSidW", 1, 5, FaultKind::fail, "account_lookup_failed",
         "Could not resolve built-in account group. Windows error 5."},
        {"LookupAccountSidW", 2, 8, FaultKind::fail, "account_lookup_failed",
         "Could not resolve built-in account group. Windows error 8."},
    };
    for (const auto& row : rows) {
        if (std::string_view(row.function) == "NetUserSetInfo")
            winsim::ensure_local_user("QuarvelSandboxOnline", "old");
        testing::arm(row);
        auto prepared = prepare("Qv7!pw");
        ASSERT_FALSE(prepared) << row.function;
        testing::expect_row_failure(prepared.error(), row);
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
        winsim::clear_faults();
    }
    // A group that exists answers NERR_GroupExists or ERROR_ALIAS_EXISTS; a member that is in
    // already, ERROR_MEMBER_IN_ALIAS.
    for (const std::uint32_t exists : {2223u, 1379u}) {
        winsim::inject_fault("NetLocalGroupAdd", exists);
        winsim::inject_fault("NetLocalGroupAddMembers", 1378);
        EXPECT_TRUE(prepare("Qv7!pw")) << exists;
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << exists;
    }

    winsim::inject_fault("BCryptGenRandom", 0xC000000D);
    EXPECT_EQ(generate_password().error(),
              fixed_failure("random_generation_failed",
                            "Could not generate protected account credential: -1073741811.", 70));
}

}  // namespace
}  // namespace quarvel
