// The worker's identity check on the simulated host: its answers for the right and wrong
// account and group, and every failure a platform call can cause.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "platform/unique_resource.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "windows/process/worker_identity.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"

namespace quarvel {
namespace {

class WorkerIdentity : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        {
            UniqueHandle token;
            ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
            auto user = read_token_information(token.get(), TokenUser, "test", "user");
            ASSERT_TRUE(user);
            user_ = *sid_to_string(user->as<TOKEN_USER>()->User.Sid);
        }
        count_resources_from_now();
    }
    std::string user_;
};

// The interactive administrator of the simulated machine is in Everyone and Administrators.
TEST_F(WorkerIdentity, AcceptsItsOwnAccountInAnyCaseOfTheSAndAGroupItIsIn) {
    EXPECT_TRUE(verify_worker_identity(user_, "S-1-1-0"));
    std::string lower = user_;
    lower[0] = 's';
    EXPECT_TRUE(verify_worker_identity(lower, "S-1-5-32-544"));
}

TEST_F(WorkerIdentity, RefusesAnotherAccountOrAGroupItIsNotIn) {
    EXPECT_EQ(verify_worker_identity(user_ + "0", "S-1-1-0").error(),
              fixed_failure("worker_identity_failed",
                            "Protected command worker started under an unexpected account.", 70));
    EXPECT_EQ(verify_worker_identity(user_.substr(0, user_.size() - 1), "S-1-1-0").error().message,
              "Protected command worker started under an unexpected account.");
    EXPECT_EQ(verify_worker_identity(user_, "S-1-5-21-9-9-9-1234").error(),
              fixed_failure("worker_identity_failed",
                            "Protected command worker is not in its required account group.", 70));
    EXPECT_EQ(verify_worker_identity(user_, "group").error().code, "invalid_sid");
}

TEST_F(WorkerIdentity, EveryPlatformFailureGivesItsRowAndReleasesEverything) {
    using winsim::FaultKind;
    struct Row {
        const char* function;
        std::uint64_t nth;
        std::uint32_t value;
        FaultKind kind;
        const char* message;  // starts with
    } rows[] = {
        {"OpenProcessToken", 1, 5, FaultKind::fail,
         "Could not inspect protected command worker identity. Windows error 5."},
        {"OpenProcessToken", 1, 6, FaultKind::quirk,
         "Could not inspect worker identity. Windows error "},
        {"GetTokenInformation", 1, 8, FaultKind::fail,
         "Could not size worker identity. Windows error 8."},
        {"GetTokenInformation", 2, 998, FaultKind::fail,
         "Could not read worker identity. Windows error 998."},
        {"CheckTokenMembership", 1, 5, FaultKind::fail,
         "Could not verify protected command worker membership. Windows error 5."},
    };
    for (const auto& row : rows) {
        winsim::inject_fault(row.function, row.value, row.nth, row.kind);
        auto verified = verify_worker_identity(user_, "S-1-1-0");
        ASSERT_FALSE(verified) << row.function;
        EXPECT_EQ(verified.error().code, "worker_identity_failed");
        EXPECT_EQ(verified.error().message.rfind(row.message, 0), 0u)
            << row.function << ": " << verified.error().message;
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << row.function;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
}

}  // namespace
}  // namespace quarvel
