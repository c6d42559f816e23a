// A protected path held open on the simulated host: while it is pinned neither it nor a folder
// above it can be deleted, renamed or replaced, and a link is refused through the handle. The
// failures of the pinning calls are the failure rows of its callers (path_access_test,
// protected_directories_test, setup_and_probe_test, protected_run_test).

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>

#include "platform/wide_text.h"
#include "support/file_semantics.h"
#include "support/leak_checked_test.h"
#include "windows/security/pinned_path.h"

namespace quarvel {
namespace {

using testing::error_of;

constexpr PinMessages kMessages{"Could not inspect the root", "The root is a link."};

class PinnedPathTest : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        for (const char* folder : {"C:\\top", "C:\\top\\root"})
            ASSERT_TRUE(CreateDirectoryW(to_wide(folder).c_str(), nullptr));
        ASSERT_TRUE(testing::write_file(to_wide("C:\\top\\file.txt"), "x"));
        count_resources_from_now();
    }
};

TEST_F(PinnedPathTest, WhilePinnedNeitherThePathNorAFolderAboveItCanBeMovedOrDeleted) {
    constexpr DWORD kViolation = ERROR_SHARING_VIOLATION;
    constexpr DWORD kDenied = ERROR_ACCESS_DENIED;
    const struct Row {
        const char* pinned;
        const char* moved;
        DWORD expected;
    } rows[] = {
        {"C:\\top\\root", "C:\\top\\root", kViolation},
        {"C:\\top\\root", "C:\\top", kDenied},
        {"C:\\top\\file.txt", "C:\\top\\file.txt", kViolation},
        {"C:\\top\\file.txt", "C:\\top", kDenied},
    };
    for (const auto& row : rows) {
        const WideString moved = to_wide(row.moved);
        {
            const auto pinned = pin_path(to_wide(row.pinned), kMessages);
            ASSERT_TRUE(pinned) << row.pinned;
            EXPECT_EQ(pinned->final_path(), to_wide(std::string("\\\\?\\") + row.pinned));
            EXPECT_EQ(error_of(MoveFileExW(moved.c_str(), WIDE("C:\\aside"), 0)), row.expected)
                << row.pinned << " moving " << row.moved;
            if (std::string(row.pinned) == row.moved) {
                const bool file = std::string(row.pinned).ends_with(".txt");
                EXPECT_EQ(
                    error_of(file ? DeleteFileW(moved.c_str()) : RemoveDirectoryW(moved.c_str())),
                    kViolation)
                    << row.pinned;
            }
        }
        // Let go: the move goes through, and back.
        ASSERT_EQ(error_of(MoveFileExW(moved.c_str(), WIDE("C:\\aside"), 0)), 0u) << row.moved;
        ASSERT_EQ(error_of(MoveFileExW(WIDE("C:\\aside"), moved.c_str(), 0)), 0u) << row.moved;
    }
}

// Its own links are refused (path_access_test checks both kinds); a link above it is followed.
TEST_F(PinnedPathTest, AJunctionIsRefusedThroughTheHandleAndAJunctionAboveIsFollowed) {
    ASSERT_EQ(winsim::make_directory_junction(to_wide("C:\\junction"), to_wide("C:\\top")), 0u);
    const auto refused = pin_path(to_wide("C:\\junction"), kMessages);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), fixed_failure("reparse_path_rejected", "The root is a link.", 70));
    const auto through = pin_path(to_wide("C:\\junction\\root"), kMessages);
    ASSERT_TRUE(through);
    EXPECT_EQ(through->final_path(), to_wide("\\\\?\\C:\\top\\root"));
}

}  // namespace
}  // namespace quarvel
