// Every failure a platform call can cause in the security primitives, reached by fault
// injection, with everything acquired before the failure released again.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "windows/security/secure_random.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_membership.h"

namespace quarvel {
namespace {

class SecurityPrimitiveFailures : public testing::LeakCheckedTest {
  protected:
    void TearDown() override {
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << "a fault was armed but never reached";
        LeakCheckedTest::TearDown();
    }
};

TEST_F(SecurityPrimitiveFailures, GeneratorFailureReportsTheStatusAsASignedNumber) {
    winsim::inject_fault("BCryptGenRandom", 0xC0000001u);  // STATUS_UNSUCCESSFUL
    const auto text = secure_random_hex(16);
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error().code, "random_generation_failed");
    EXPECT_EQ(text.error().message, "Could not generate secure random value: -1073741823.");
    EXPECT_EQ(text.error().exit_code, 70);
}

TEST_F(SecurityPrimitiveFailures, GeneratorWarningStatusIsNotAFailure) {
    // Only negative NTSTATUS values are errors; informational ones count as success.
    winsim::inject_fault("BCryptGenRandom", 0x40000000u);
    EXPECT_TRUE(secure_random_hex(4).has_value());
}

TEST_F(SecurityPrimitiveFailures, ParseFailureCarriesTheWindowsError) {
    winsim::inject_fault("ConvertStringSidToSidW", 8);
    const auto sid = sid_from_string("S-1-1-0");
    ASSERT_FALSE(sid.has_value());
    EXPECT_EQ(sid.error(), (Failure{"invalid_sid",
                                    "Could not parse security identifier. Windows error 8.", 70}));
}

TEST_F(SecurityPrimitiveFailures, CopyFailuresAfterParsingReleaseWindowsBuffer) {
    const struct {
        const char* function;
        const char* message;
    } cases[] = {
        {"GetLengthSid", "Could not read security identifier. Windows error 1337."},
        {"CopySid", "Could not copy security identifier. Windows error 1337."},
    };
    for (const auto& c : cases) {
        const auto allocations = winsim::outstanding_local_allocations();
        winsim::inject_fault(c.function, 1337);
        const auto sid = sid_from_string("S-1-5-32-544");
        ASSERT_FALSE(sid.has_value()) << c.function;
        EXPECT_EQ(sid.error(), (Failure{"sid_copy_failed", c.message, 70}));
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations) << c.function;
    }
}

TEST_F(SecurityPrimitiveFailures, FormatFailureCarriesTheWindowsError) {
    const auto sid = sid_from_string("S-1-1-0");
    ASSERT_TRUE(sid.has_value());
    winsim::inject_fault("ConvertSidToStringSidW", 1337);
    const auto text = sid_to_string(sid->get());
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error(),
              (Failure{"sid_conversion_failed",
                       "Could not format security identifier. Windows error 1337.", 70}));
}

TEST_F(SecurityPrimitiveFailures, FormattingReleasesWindowsText) {
    const auto sid = sid_from_string("S-1-5-32-545");
    ASSERT_TRUE(sid.has_value());
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(sid_to_string(sid->get()), "S-1-5-32-545");
}

class MembershipFailures : public SecurityPrimitiveFailures {
  protected:
    void SetUp() override {
        SecurityPrimitiveFailures::SetUp();
        HANDLE raw = nullptr;
        ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &raw));
        token_.reset(raw);
    }
    void TearDown() override {
        token_.reset();
        SecurityPrimitiveFailures::TearDown();
    }

    Result<bool> everyone_is_member() {
        const auto everyone = sid_from_string("S-1-1-0");
        EXPECT_TRUE(everyone.has_value());
        return token_is_member(token_.get(), everyone->get(), "account_verification_failed",
                               "Could not verify protected account membership.");
    }

    UniqueHandle token_;
};

TEST_F(MembershipFailures, EachFailingStepGivesTheCallersFailureAndClosesTheDuplicate) {
    const struct {
        const char* function;
        DWORD error;
        winsim::FaultKind kind;
    } cases[] = {
        {"DuplicateToken", 5, winsim::FaultKind::fail},
        {"DuplicateToken", 1450, winsim::FaultKind::quirk},  // success, but no handle
        {"CheckTokenMembership", 1309, winsim::FaultKind::fail},
    };
    for (const auto& c : cases) {
        const auto handles = winsim::open_handle_count();
        winsim::inject_fault(c.function, c.error, 1, c.kind);
        const auto member = everyone_is_member();
        ASSERT_FALSE(member.has_value()) << c.function;
        EXPECT_EQ(member.error().code, "account_verification_failed");
        EXPECT_EQ(member.error().message,
                  "Could not verify protected account membership. "
                  "Windows error " +
                      std::to_string(c.error) + ".");
        EXPECT_EQ(member.error().exit_code, 70);
        EXPECT_EQ(winsim::open_handle_count(), handles) << c.function;
    }
}

TEST_F(MembershipFailures, SuccessClosesTheDuplicateToo) {
    const auto handles = winsim::open_handle_count();
    EXPECT_EQ(everyone_is_member(), true);
    EXPECT_EQ(winsim::open_handle_count(), handles);
}

}  // namespace
}  // namespace quarvel
