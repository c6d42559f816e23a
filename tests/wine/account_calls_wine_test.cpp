// The account lookups and system paths against Wine, a Win32 implementation nobody here wrote.
// Wine knows the well-known and built-in names but no local accounts, and its netapi32 and
// sign-in calls are stand-ins (see sim/README.md), so only the lookups and paths run here.

#include <gtest/gtest.h>

#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/account_lookup_semantics.h"
#include "windows/security/account_lookup.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"
#include "windows/setup/builtin_users.h"
#include "windows/setup/setup_owner.h"
#include "windows/setup/system_command.h"

namespace quarvel {
namespace {

TEST(AccountCallsUnderWine, LookupsAnswerAsTheSimulatedHostDoes) {
    testing::expect_administrators_name_lookup();
    for (const auto& account : testing::well_known_accounts())
        testing::expect_sid_lookup(account);
    EXPECT_EQ(*builtin_users_group_name(), "Users");
    EXPECT_EQ(*sid_to_string(lookup_account_sid("BUILTIN\\Users")->get()), "S-1-5-32-545");
}

TEST(AccountCallsUnderWine, UnknownNameFailsTheSizeQueryWithNoneMapped) {
    EXPECT_EQ(lookup_account_sid("QuarvelSandboxNoSuchAccount").error(),
              fixed_failure("account_lookup_failed",
                            "Could not size account security identifier. Windows error 1332.", 70));
}

// The user Wine runs as is an account of its machine's domain that LookupAccountSidW reports as
// a user: it may own an installation, which its own setup would make it.
TEST(AccountCallsUnderWine, TheUserWineRunsAsMayOwnAnInstallation) {
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    auto user = read_token_information(token.get(), TokenUser, "test_failed", "the user");
    ASSERT_TRUE(user) << user.error().message;
    auto owner = copy_sid(user->as<TOKEN_USER>()->User.Sid);
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner_form(*owner), OwnerForm::account) << *sid_to_string(owner->get());
    const auto judged = require_user_account_owner(*owner);
    EXPECT_TRUE(judged) << *sid_to_string(owner->get()) << ": " << judged.error().message;
}

TEST(AccountCallsUnderWine, SystemCommandAndProgramPathFollowTheirSizeProtocols) {
    WCHAR small[8];
    EXPECT_EQ(GetSystemDirectoryW(small, 8), 20u);  // C:\windows\system32 and its zero
    auto command = system_command_path();
    ASSERT_TRUE(command) << command.error().message;
    EXPECT_EQ(narrow_lossy(*command), "C:\\windows\\system32\\cmd.exe");

    std::vector<WCHAR> path(4096);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), 4096);
    EXPECT_TRUE(narrow_lossy(path.data()).ends_with("\\quarvel_wine_tests.exe"));
    EXPECT_EQ(length, narrow_lossy(path.data()).size());
    EXPECT_EQ(GetModuleFileNameW(nullptr, path.data(), 5), 5u);
    EXPECT_EQ(GetLastError(), 122u);
}

}  // namespace
}  // namespace quarvel
