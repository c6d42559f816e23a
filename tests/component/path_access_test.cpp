// Access rules on paths on the simulated host: grants and revokes that keep every other entry,
// links refused, every failure leaving the list as it was, the cost of a grant on a tree, and
// what a write-restricted token can do before and after its capability is granted.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>

#include "platform/wide_text.h"
#include "support/file_semantics.h"
#include "support/leak_checked_test.h"
#include "support/path_security.h"
#include "support/run_as.h"
#include "windows/runner/canonical_path.h"
#include "windows/security/path_access.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

using testing::AclEntry;
using testing::entries_for;
using testing::read_path_security;

constexpr const char* kGroup = "S-1-5-21-1000-2000-3000-1010";
constexpr const char* kCapability = "S-1-5-21-11-22-33-44";
constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// Makes the directory and what is missing above it; 0 or the first error.
DWORD error_of_directory_tree(const WideString& path) {
    for (std::size_t at = path.find(WIDE('\\'), 3); at != WideString::npos;
         at = path.find(WIDE('\\'), at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS
               ? 0u
               : GetLastError();
}

class PathAccessTest : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_TRUE(CreateDirectoryW(work_.c_str(), nullptr));
        count_resources_from_now();
    }

    Result<void> change(const WideString& path, const char* sid_text, DWORD mask,
                        ACCESS_MODE mode) {
        const auto sid = sid_from_string(sid_text);
        EXPECT_TRUE(sid);
        return set_path_access(path, sid->get(), mask, mode);
    }

    const WideString work_ = to_wide("C:\\work");
};

TEST_F(PathAccessTest, RevokingTheCapabilityKeepsTheGroupsEntryAndAllOthers) {
    const auto before = read_path_security(work_);
    ASSERT_EQ(before.error, 0u);
    ASSERT_TRUE(change(work_, kGroup, kModifyAccess, GRANT_ACCESS));
    ASSERT_TRUE(change(work_, kCapability, kModifyAccess, GRANT_ACCESS));
    const auto granted = read_path_security(work_);
    EXPECT_EQ(
        entries_for(granted.entries, kCapability),
        (std::vector<AclEntry>{{ACCESS_ALLOWED_ACE_TYPE, kInherit, kModifyAccess, kCapability}}));

    ASSERT_TRUE(change(work_, kCapability, 0, REVOKE_ACCESS));
    const auto revoked = read_path_security(work_);
    EXPECT_TRUE(entries_for(revoked.entries, kCapability).empty());
    std::vector<AclEntry> expected = before.entries;
    expected.insert(expected.begin(), {ACCESS_ALLOWED_ACE_TYPE, kInherit, kModifyAccess, kGroup});
    EXPECT_EQ(revoked.entries, expected);
    EXPECT_EQ(revoked.control, before.control);
}

TEST_F(PathAccessTest, GrantingTwiceLeavesOneEntry) {
    ASSERT_TRUE(change(work_, kGroup, kReadAndExecuteAccess, GRANT_ACCESS));
    const auto once = read_path_security(work_);
    ASSERT_TRUE(change(work_, kGroup, kReadAndExecuteAccess, GRANT_ACCESS));
    EXPECT_EQ(read_path_security(work_), once);
    EXPECT_EQ(entries_for(once.entries, kGroup).size(), 1u);
}

TEST_F(PathAccessTest, EveryFailureLeavesTheListAsItWasAndReleasesEverything) {
    ASSERT_TRUE(change(work_, kGroup, kModifyAccess, GRANT_ACCESS));
    const auto before = read_path_security(work_);
    const struct Row {
        const char* function;
        std::uint32_t value;
        const char* code;
        std::string message;
        int exit_code;
    } rows[] = {
        {"CreateFileW", 5, "io_error",
         "Could not inspect protected path: Access is denied. (os error 5)", 74},
        {"GetFileInformationByHandleEx", 6, "io_error",
         "Could not inspect protected path: The handle is invalid. (os error 6)", 74},
        {"GetFinalPathNameByHandleW", 5, "io_error",
         "Could not inspect protected path: Access is denied. (os error 5)", 74},
        {"GetNamedSecurityInfoW", 5, "acl_read_failed",
         "Could not read access rules for C:\\work: 5.", 70},
        {"SetEntriesInAclW", 87, "acl_update_failed",
         "Could not prepare access rules for C:\\work: 87.", 70},
        {"SetNamedSecurityInfoW", 1336, "acl_update_failed",
         "Could not apply access rules for C:\\work: 1336.", 70},
    };
    for (const auto& row : rows) {
        winsim::inject_fault(row.function, row.value);
        const auto result = change(work_, kCapability, kModifyAccess, GRANT_ACCESS);
        ASSERT_FALSE(result) << row.function;
        EXPECT_EQ(result.error(), fixed_failure(row.code, row.message, row.exit_code));
        EXPECT_EQ(read_path_security(work_), before) << row.function;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
    const auto missing = change(to_wide("C:\\work\\nothing"), kGroup, kModifyAccess, GRANT_ACCESS);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message,
              "Could not inspect protected path: The system cannot find the file specified. "
              "(os error 2)");
}

TEST_F(PathAccessTest, JunctionsAndSymbolicLinksAreRefusedAndOtherReparsePointsAccepted) {
    const WideString target = to_wide("C:\\work\\target");
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    const auto untouched = read_path_security(target);
    const WideString junction = to_wide("C:\\work\\junction");
    const WideString symbolic = to_wide("C:\\work\\symbolic");
    ASSERT_EQ(winsim::make_directory_junction(junction, target), 0u);
    ASSERT_EQ(winsim::make_symbolic_link(symbolic, target), 0u);
    for (const auto& link : {junction, symbolic}) {
        const auto result = change(link, kGroup, kModifyAccess, GRANT_ACCESS);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(),
                  fixed_failure(
                      "reparse_path_rejected",
                      "Protected path cannot be a symbolic link: " + narrow_lossy(link) + ".", 70));
    }
    EXPECT_EQ(read_path_security(target), untouched);

    // A deduplicated directory stands for nothing else: its rules are its own.
    ASSERT_EQ(winsim::set_reparse_tag(target, 0x80000013), 0u);
    ASSERT_TRUE(change(target, kGroup, kModifyAccess, GRANT_ACCESS));
    EXPECT_EQ(entries_for(read_path_security(target).entries, kGroup).size(), 1u);
}

// The run resolves a location and grants on it later: whatever replaced the location or a
// folder above it in between is refused, and what the replacement leads to is left alone.
TEST_F(PathAccessTest, AResolvedPathThatWasReplacedSinceIsRefusedAndItsNewTargetLeftAlone) {
    ASSERT_TRUE(CreateDirectoryW(WIDE("C:\\elsewhere"), nullptr));
    ASSERT_TRUE(CreateDirectoryW(WIDE("C:\\elsewhere\\root"), nullptr));
    const struct Row {
        const char* root;
        const char* replaced;  // moved aside, and a junction to C:\elsewhere put in its place
        const char* message;
    } rows[] = {
        {"C:\\work\\root", "C:\\work\\root", "Protected path cannot be a symbolic link: "},
        {"C:\\work\\mid\\root", "C:\\work\\mid", "Protected path changed after it was resolved: "},
    };
    for (const auto& row : rows) {
        const WideString root = to_wide(row.root);
        const WideString replaced = to_wide(row.replaced);
        ASSERT_EQ(error_of_directory_tree(root), 0u) << row.root;
        const auto resolved = canonical_path(root);
        ASSERT_TRUE(resolved) << row.root;
        const auto untouched = read_path_security(to_wide("C:\\elsewhere\\root"));
        const auto untouched_above = read_path_security(to_wide("C:\\elsewhere"));
        ASSERT_TRUE(MoveFileExW(replaced.c_str(), WIDE("C:\\work\\aside"), 0));
        ASSERT_EQ(winsim::make_directory_junction(replaced, to_wide("C:\\elsewhere")), 0u);

        const auto result =
            set_path_access(*resolved, sid_from_string(kGroup)->get(), kModifyAccess, GRANT_ACCESS);
        ASSERT_FALSE(result) << row.root;
        EXPECT_EQ(result.error(), fixed_failure("reparse_path_rejected",
                                                row.message + narrow_lossy(*resolved) + ".", 70));
        EXPECT_EQ(read_path_security(to_wide("C:\\elsewhere\\root")), untouched) << row.root;
        EXPECT_EQ(read_path_security(to_wide("C:\\elsewhere")), untouched_above) << row.root;
        ASSERT_TRUE(RemoveDirectoryW(replaced.c_str()));
        ASSERT_TRUE(MoveFileExW(WIDE("C:\\work\\aside"), replaced.c_str(), 0));
    }
}

TEST_F(PathAccessTest, AGrantOnATreeVisitsTheDirectoryAndEachDescendantOnce) {
    for (const char* directory : {"C:\\work\\a", "C:\\work\\a\\b", "C:\\work\\c"})
        ASSERT_TRUE(CreateDirectoryW(to_wide(directory).c_str(), nullptr));
    for (const char* file : {"C:\\work\\one.txt", "C:\\work\\a\\two.txt", "C:\\work\\a\\b\\3.txt"})
        ASSERT_TRUE(testing::write_file(to_wide(file), "x"));
    const std::uint64_t descendants = 6;

    ASSERT_TRUE(change(work_, kCapability, kModifyAccess, GRANT_ACCESS));
    EXPECT_EQ(winsim::last_security_write_visits(), descendants + 1);
    std::cout << "grant on a directory with " << descendants << " descendants visited "
              << winsim::last_security_write_visits() << " objects\n";
    // What the deepest file now inherits.
    EXPECT_EQ(
        entries_for(read_path_security(to_wide("C:\\work\\a\\b\\3.txt")).entries, kCapability),
        (std::vector<AclEntry>{
            {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, kModifyAccess, kCapability}}));
}

TEST_F(PathAccessTest, AWriteRestrictedTokenWritesOnlyWhereItsCapabilityIsGranted) {
    const WideString project = to_wide("C:\\work\\project");
    const WideString below = to_wide("C:\\work\\project\\below");
    ASSERT_TRUE(CreateDirectoryW(project.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(below.c_str(), nullptr));
    const std::string user = testing::member_token("QuarvelSandboxOnline");
    const std::string confined = testing::member_token("QuarvelSandboxOnline", "", {kCapability});
    const auto create_error = [](const std::string& token, const char* path) {
        testing::RunAs as(token);
        return testing::open_error(to_wide(path), GENERIC_WRITE, CREATE_NEW);
    };
    // Authenticated Users may change what lies below the system drive's root.
    EXPECT_EQ(create_error(user, "C:\\work\\project\\by-user.txt"), 0u);
    EXPECT_EQ(create_error(confined, "C:\\work\\project\\confined.txt"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    {
        // Reading needs no restricting SID.
        testing::RunAs as(confined);
        EXPECT_EQ(testing::read_file(to_wide("C:\\work\\project\\by-user.txt")), "");
    }

    ASSERT_TRUE(change(project, kCapability, kModifyAccess, GRANT_ACCESS));
    EXPECT_EQ(create_error(confined, "C:\\work\\project\\confined.txt"), 0u);
    EXPECT_EQ(create_error(confined, "C:\\work\\project\\below\\deeper.txt"), 0u);
    EXPECT_EQ(create_error(confined, "C:\\work\\beside.txt"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace quarvel
