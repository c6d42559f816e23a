// Taking a run's grant back: a revoke that fails is reported, and the entry it left is taken
// back by the next release instead of staying behind.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "platform/wide_text.h"
#include "support/leak_checked_test.h"
#include "support/path_security.h"
#include "windows/runner/workspace_grant.h"
#include "windows/security/path_access.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

constexpr const char* kCapability = "S-1-5-21-11-22-33-44";

class WorkspaceGrantTest : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        for (const auto& path : paths_)
            ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
        count_resources_from_now();
    }

    // Paths that still carry an entry of the capability SID.
    std::vector<std::string> granted() const {
        std::vector<std::string> found;
        for (const auto& path : paths_)
            if (!testing::entries_for(testing::read_path_security(path).entries, kCapability)
                     .empty())
                found.push_back(narrow_lossy(path));
        return found;
    }

    const std::vector<WideString> paths_ = {to_wide("C:\\first"), to_wide("C:\\second")};
};

TEST_F(WorkspaceGrantTest, ARevokeThatFailsIsReportedAndItsEntryTakenBackByTheNextRelease) {
    auto capability = sid_from_string(kCapability);
    ASSERT_TRUE(capability);
    WorkspaceGrant grant(std::move(*capability));
    for (const auto& path : paths_) {
        grant.record(path);
        ASSERT_TRUE(set_path_access(path, grant.capability(), kModifyAccess, GRANT_ACCESS));
    }
    winsim::inject_fault("SetNamedSecurityInfoW", ERROR_ACCESS_DENIED);
    const auto first = grant.release();
    ASSERT_FALSE(first);
    EXPECT_EQ(first.error().code, "acl_update_failed");
    EXPECT_FALSE(grant.released());
    EXPECT_EQ(granted(), std::vector<std::string>{"C:\\first"});

    EXPECT_TRUE(grant.release());
    EXPECT_TRUE(grant.released());
    EXPECT_TRUE(granted().empty());
}

}  // namespace
}  // namespace quarvel
