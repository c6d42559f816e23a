// The state and runtime directories' fixed access lists on the simulated host, what a member of
// the sandbox group can do in the runtime directory, and every failure row.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>

#include "platform/wide_text.h"
#include "support/file_semantics.h"
#include "support/leak_checked_test.h"
#include "support/path_security.h"
#include "support/run_as.h"
#include "windows/security/path_access.h"
#include "windows/security/pinned_path.h"
#include "windows/security/protected_directories.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

using testing::AclEntry;
using testing::read_path_security;

constexpr const char* kOwner = "S-1-5-21-1000-2000-3000-1001";
constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kGroupName = "QuarvelSandboxUsers";
constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

class ProtectedDirectoriesTest : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        group_text_ = winsim::ensure_local_group(kGroupName);
        ASSERT_TRUE(CreateDirectoryW(directory_.c_str(), nullptr));
        count_resources_from_now();
    }

    OwnedSid group() const { return *sid_from_string(group_text_); }

    // The state directory as setup hands it over: checked and held open.
    Result<void> protect_state(std::string_view owner, PSID group_sid) {
        auto pinned = pin_path(directory_, {"inspect", "link"});
        if (!pinned)
            return std::unexpected(pinned.error());
        return protect_state_directory(*pinned, owner, group_sid);
    }

    const WideString directory_ = to_wide("C:\\quarvel");
    std::string group_text_;
};

TEST_F(ProtectedDirectoriesTest, StateDirectoryHoldsExactlyOwnerAdministratorsAndSystem) {
    ASSERT_TRUE(protect_state(kOwner, group().get()));
    const auto state = read_path_security(directory_);
    EXPECT_EQ(state.entries, (std::vector<AclEntry>{{0, kInherit, kFullAccess, kOwner},
                                                    {0, kInherit, kFullAccess, kAdministrators},
                                                    {0, kInherit, kFullAccess, kSystem}}));
    EXPECT_NE(state.control & SE_DACL_PROTECTED, 0);

    // Files made in it afterwards take the same three, and nothing from above.
    ASSERT_TRUE(testing::write_file(to_wide("C:\\quarvel\\setup.json"), "{}"));
    const auto file = read_path_security(to_wide("C:\\quarvel\\setup.json"));
    ASSERT_EQ(file.entries.size(), 3u);
    for (const auto& entry : file.entries) {
        EXPECT_EQ(entry.flags, INHERITED_ACE);
        EXPECT_EQ(entry.mask, static_cast<DWORD>(FILE_ALL_ACCESS));
    }
    EXPECT_EQ(file.entries[0].sid, kOwner);
}

TEST_F(ProtectedDirectoriesTest, TheGroupCanListAndReadTheRuntimeDirectoryButNotCreateInIt) {
    ASSERT_TRUE(testing::write_file(to_wide("C:\\quarvel\\given.txt"), "given"));
    ASSERT_TRUE(protect_runtime_directory(directory_, kOwner, group().get()));
    EXPECT_EQ(read_path_security(directory_).entries,
              (std::vector<AclEntry>{{0, kInherit, kFullAccess, kOwner},
                                     {0, kInherit, kFullAccess, kAdministrators},
                                     {0, kInherit, kFullAccess, kSystem},
                                     {0, kInherit, kReadAndExecuteAccess, group_text_}}));

    const std::string member = testing::member_token("QuarvelSandboxOnline", kGroupName);
    const std::string outsider = testing::member_token("Outsider");
    {
        testing::RunAs as(member);
        EXPECT_EQ(testing::open_error(directory_, FILE_LIST_DIRECTORY, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS),
                  0u);
        EXPECT_EQ(testing::read_file(to_wide("C:\\quarvel\\given.txt")), "given");
        EXPECT_EQ(testing::open_error(to_wide("C:\\quarvel\\new.txt"), GENERIC_WRITE, CREATE_NEW),
                  static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_FALSE(CreateDirectoryW(to_wide("C:\\quarvel\\sub").c_str(), nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_FALSE(DeleteFileW(to_wide("C:\\quarvel\\given.txt").c_str()));
    }
    {
        // Users' read access from the drive no longer reaches in.
        testing::RunAs as(outsider);
        EXPECT_EQ(testing::read_file(to_wide("C:\\quarvel\\given.txt")), "<cannot open: 5>");
    }
}

TEST_F(ProtectedDirectoriesTest, ARuntimeDirectoryThatIsALinkIsRefused) {
    const WideString link = to_wide("C:\\runtime-link");
    ASSERT_EQ(winsim::make_directory_junction(link, directory_), 0u);
    const auto untouched = read_path_security(directory_);
    const auto result = protect_runtime_directory(link, kOwner, group().get());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              fixed_failure("reparse_path_rejected",
                            "Command runtime directory cannot be a symbolic link.", 70));
    EXPECT_EQ(read_path_security(directory_), untouched);
}

// The policy's spelling may pass through a link above the runtime directory: the list is written
// through the directory's own final path, which no link can redirect while it is held.
TEST_F(ProtectedDirectoriesTest, ARuntimeDirectoryReachedThroughALinkedFolderGetsItsListWhereItIs) {
    ASSERT_TRUE(CreateDirectoryW(WIDE("C:\\quarvel\\runtime"), nullptr));
    ASSERT_EQ(winsim::make_directory_junction(to_wide("C:\\linked"), directory_), 0u);
    ASSERT_TRUE(protect_runtime_directory(to_wide("C:\\linked\\runtime"), kOwner, group().get()));
    EXPECT_EQ(read_path_security(to_wide("C:\\quarvel\\runtime")).entries.size(), 4u);
    EXPECT_NE(read_path_security(to_wide("C:\\quarvel\\runtime")).control & SE_DACL_PROTECTED, 0);
}

TEST_F(ProtectedDirectoriesTest, EveryFailureGivesItsRowAndReleasesEverything) {
    const struct Row {
        bool runtime;
        const char* function;
        std::uint64_t nth;
        std::uint32_t value;
        const char* code;
        const char* message;
        int exit_code;
    } rows[] = {
        {false, "ConvertStringSidToSidW", 1, 1337, "invalid_sid",
         "Could not parse security identifier. Windows error 1337.", 70},
        {false, "ConvertStringSidToSidW", 3, 8, "invalid_sid",
         "Could not parse security identifier. Windows error 8.", 70},
        {false, "SetEntriesInAclW", 1, 87, "state_acl_failed",
         "Could not prepare protected directory access: 87.", 70},
        {false, "SetNamedSecurityInfoW", 1, 5, "state_acl_failed",
         "Could not protect directory access: 5.", 70},
        {false, "GetLengthSid", 4, 1337, "sid_copy_failed",
         "Could not read security identifier. Windows error 1337.", 70},
        {true, "CreateFileW", 1, 5, "io_error",
         "Could not inspect command runtime directory: Access is denied. (os error 5)", 74},
        {true, "GetFileInformationByHandleEx", 1, 6, "io_error",
         "Could not inspect command runtime directory: The handle is invalid. (os error 6)", 74},
        {true, "GetFinalPathNameByHandleW", 1, 5, "io_error",
         "Could not inspect command runtime directory: Access is denied. (os error 5)", 74},
        {true, "ConvertStringSidToSidW", 2, 1337, "invalid_sid",
         "Could not parse security identifier. Windows error 1337.", 70},
        {true, "SetEntriesInAclW", 1, 1337, "runtime_acl_failed",
         "Could not prepare protected directory access: 1337.", 70},
        {true, "SetNamedSecurityInfoW", 1, 2, "runtime_acl_failed",
         "Could not protect directory access: 2.", 70},
    };
    for (const auto& row : rows) {
        const auto group_sid = group();
        const auto untouched = read_path_security(directory_);
        winsim::inject_fault(row.function, row.value, row.nth);
        const auto result = row.runtime
                                ? protect_runtime_directory(directory_, kOwner, group_sid.get())
                                : protect_state(kOwner, group_sid.get());
        ASSERT_FALSE(result) << row.function << " #" << row.nth;
        EXPECT_EQ(result.error(), fixed_failure(row.code, row.message, row.exit_code))
            << row.function << " #" << row.nth;
        winsim::clear_faults();
        // The group's copy is checked after the list was written.
        if (std::string(row.function) != "GetLengthSid") {
            EXPECT_EQ(read_path_security(directory_), untouched) << row.function;
        }
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
    const auto bad_owner = protect_state("S-1-bad", group().get());
    ASSERT_FALSE(bad_owner);
    EXPECT_EQ(bad_owner.error().code, "invalid_sid");
}

}  // namespace
}  // namespace quarvel
