// The self-test's throwaway workspace on the simulated host: its layout, the private list of
// its root, the runnable copy, its removal, and every failure while it is made.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/wide_text.h"
#include "platform/win32.h"
#include "selftest/workspace.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/path_security.h"

namespace quarvel::selftest {
namespace {

constexpr const char* kUser = "S-1-5-21-1-2-3-1001";

class SelfTestWorkspace : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_TRUE(CreateDirectoryW(WIDE("C:\\work"), nullptr));
        program_ = testing::windows_form(testing::test_program("sandboxed_command"));
    }

    std::filesystem::path host(const std::string& windows_path) const {
        std::string relative = windows_path.substr(3);
        for (auto& c : relative)
            if (c == '\\')
                c = '/';
        return std::filesystem::path(machine_) / "C" / relative;
    }

    std::string program_;
};

TEST_F(SelfTestWorkspace, WorkspaceIsPrivateHoldsARunnableCopyAndGoesAwayWhole) {
    Workspace workspace;
    auto prepared = prepare_workspace(workspace, "C:\\work", program_, kUser);
    ASSERT_TRUE(prepared) << prepared.error().message;
    EXPECT_EQ(workspace.root.rfind("C:\\work\\quarvel-selftest-", 0), 0u);
    EXPECT_EQ(workspace.root.size(), std::string("C:\\work\\quarvel-selftest-").size() + 16);
    for (const auto* folder : {&workspace.cwd, &workspace.writable_root, &workspace.readable_root,
                               &workspace.sibling, &workspace.runtime_dir})
        EXPECT_TRUE(std::filesystem::is_directory(host(*folder))) << *folder;
    EXPECT_EQ(workspace.readable_secret, workspace.readable_root + "\\secret.txt");
    EXPECT_EQ(workspace.sibling_secret, workspace.sibling + "\\secret.txt");
    EXPECT_TRUE(std::filesystem::is_regular_file(host(workspace.readable_secret)));

    // Only the user, SYSTEM and Administrators, whatever the parent lets others do.
    const auto root = testing::read_path_security(to_wide(workspace.root));
    ASSERT_EQ(root.error, 0u);
    EXPECT_NE(root.control & SE_DACL_PROTECTED, 0);
    ASSERT_EQ(root.entries.size(), 3u);
    const char* sids[] = {kUser, "S-1-5-18", "S-1-5-32-544"};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(root.entries[k].sid, sids[k]);
        EXPECT_EQ(root.entries[k].mask, 0x1F01FFu);
        EXPECT_EQ(root.entries[k].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    }

    // The copy is the program, and stays one.
    struct stat status {};
    ASSERT_EQ(::stat(host(workspace.program_copy).c_str(), &status), 0);
    EXPECT_NE(status.st_mode & S_IXUSR, 0u);
    EXPECT_EQ(std::filesystem::file_size(host(workspace.program_copy)),
              std::filesystem::file_size(testing::test_program("sandboxed_command")));

    EXPECT_TRUE(remove_workspace(workspace).empty());
    EXPECT_FALSE(std::filesystem::exists(host(workspace.root)));
    EXPECT_TRUE(workspace.made.empty());
}

TEST_F(SelfTestWorkspace, WhatCannotBeRemovedIsReportedWithItsError) {
    Workspace workspace;
    ASSERT_TRUE(prepare_workspace(workspace, "C:\\work", program_, kUser));
    std::ofstream(host(workspace.cwd) / "made-by-someone-else") << "x";
    const auto left = remove_workspace(workspace);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], workspace.cwd + " (Windows error 145)");
    EXPECT_EQ(left[1], workspace.root + " (Windows error 145)");
}

TEST_F(SelfTestWorkspace, EveryFailureWhilePreparingIsReportedAndWhatWasMadeGoesAway) {
    const struct {
        const char* function;
        std::uint64_t nth;
        std::uint32_t value;
        const char* code;
        const char* message;  // the failure's message starts with this
    } rows[] = {
        {"BCryptGenRandom", 1, 0xC0000001, "random_generation_failed", ""},
        {"ConvertStringSecurityDescriptorToSecurityDescriptorW", 1, 1336,
         "selftest_workspace_failed", "Could not describe the access list of C:\\work\\"},
        {"CreateDirectoryW", 1, 5, "selftest_workspace_failed", "Could not create C:\\work\\"},
        {"CreateDirectoryW", 2, 112, "selftest_workspace_failed", "Could not create C:\\work\\"},
        {"CreateDirectoryW", 6, 5, "selftest_workspace_failed", "Could not create C:\\work\\"},
        {"CreateFileW", 1, 112, "selftest_workspace_failed", "Could not write C:\\work\\"},
        {"CreateFileW", 2, 5, "selftest_workspace_failed", "Could not write C:\\work\\"},
        {"CopyFileW", 1, 112, "selftest_workspace_failed", "Could not copy the self-test to "},
    };
    for (const auto& row : rows) {
        winsim::inject_fault(row.function, row.value, row.nth);
        Workspace workspace;
        auto prepared = prepare_workspace(workspace, "C:\\work", program_, kUser);
        ASSERT_FALSE(prepared) << row.function << " #" << row.nth;
        EXPECT_EQ(prepared.error().code, row.code) << row.function << " #" << row.nth;
        EXPECT_EQ(prepared.error().message.rfind(row.message, 0), 0u) << prepared.error().message;
        if (std::string(row.code) == "selftest_workspace_failed") {
            const std::string error = "Windows error " + std::to_string(row.value) + ".";
            EXPECT_NE(prepared.error().message.find(error), std::string::npos)
                << prepared.error().message;
        }
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << row.function;
        EXPECT_TRUE(remove_workspace(workspace).empty()) << row.function;
        EXPECT_TRUE(std::filesystem::is_empty(host("C:\\work"))) << row.function << row.nth;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
}

}  // namespace
}  // namespace quarvel::selftest
