// The simulated host's file calls: the answers Windows gives (the same checks run against Wine
// in the Wine lane), where Windows paths live on the host, and their fault injection.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/file_semantics.h"
#include "support/host_scratch.h"

namespace quarvel {
namespace {

TEST(SimulatedFileCalls, DirectoryCreationResultsMatchWindows) {
    testing::expect_directory_creation_results();
}
TEST(SimulatedFileCalls, FileOpenResultsMatchWindows) {
    testing::expect_file_open_results();
}
TEST(SimulatedFileCalls, MissingNameResultsMatchWindows) {
    testing::expect_missing_name_results();
}
TEST(SimulatedFileCalls, RenameResultsMatchWindows) {
    testing::expect_rename_results();
}
TEST(SimulatedFileCalls, SharingBetweenOpenHandlesMatchesWindows) {
    testing::expect_sharing_results();
}
TEST(SimulatedFileCalls, DeletingAndRenamingOpenObjectsMatchWindows) {
    testing::expect_delete_and_rename_sharing_results();
}
TEST(SimulatedFileCalls, DeletionsWaitForTheLastHandleAsOnWindows) {
    testing::expect_delete_on_close_results();
}
TEST(SimulatedFileCalls, ReadOnlyFileResultsMatchWindows) {
    testing::expect_read_only_results();
}
TEST(SimulatedFileCalls, ListingResultsMatchWindows) {
    testing::expect_listing_results();
}

class SimulatedFilePlaces : public testing::HostScratch {
  protected:
    std::string windows_text(const std::filesystem::path& host) const {
        return narrow_lossy(windows_form(host));
    }
};

TEST_F(SimulatedFilePlaces, DriveCLivesInTheMachineDirectoryAndZIsTheHostRoot) {
    ASSERT_TRUE(testing::write_file(to_wide("C:\\status.json"), "c"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "machine" / "C" / "status.json"));
    ASSERT_TRUE(testing::write_file(to_wide(windows_text(root_ / "work" / "z.txt")), "z"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "work" / "z.txt"));
    // Drive letters are not case-sensitive; ".." never climbs above a drive's root.
    EXPECT_EQ(testing::read_file(to_wide("c:\\..\\..\\status.json")), "c");
}

TEST_F(SimulatedFilePlaces, DrivesWithoutAFolderDoNotExist) {
    EXPECT_EQ(testing::open_error(to_wide("Q:\\x"), GENERIC_WRITE, CREATE_ALWAYS),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    std::filesystem::create_directories(root_ / "machine" / "Q");
    EXPECT_EQ(testing::open_error(to_wide("Q:\\x"), GENERIC_WRITE, CREATE_ALWAYS), 0u);
}

TEST_F(SimulatedFilePlaces, RelativeRootedAndDriveRelativePathsFollowTheCurrentDirectory) {
    std::filesystem::create_directories(root_ / "machine" / "C" / "dir");
    std::filesystem::current_path(root_ / "work");
    ASSERT_TRUE(testing::write_file(to_wide("bare.txt"), "1"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "work" / "bare.txt"));
    ASSERT_TRUE(testing::write_file(to_wide(".\\sub-less.txt"), "2"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "work" / "sub-less.txt"));
    // The current drive is Z: here, so a rooted path is on the host's root and C:name is at
    // the root of C:.
    EXPECT_EQ(testing::read_file(to_wide(windows_text(root_ / "work" / "bare.txt").substr(2))),
              "1");
    ASSERT_TRUE(testing::write_file(to_wide("C:drive-relative.txt"), "3"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "machine" / "C" / "drive-relative.txt"));

    // Inside the machine's C folder, the current directory is on C:.
    std::filesystem::current_path(root_ / "machine" / "C" / "dir");
    ASSERT_TRUE(testing::write_file(to_wide("C:here.txt"), "4"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "machine" / "C" / "dir" / "here.txt"));
    ASSERT_TRUE(testing::write_file(to_wide("\\top.txt"), "5"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "machine" / "C" / "top.txt"));
}

TEST_F(SimulatedFilePlaces, NamesWindowsForbidsAndUnsimulatedFormsAreRefused) {
    const struct {
        const char* path;
        DWORD error;
    } cases[] = {
        {"", ERROR_PATH_NOT_FOUND},
        {"C:\\a?b", ERROR_INVALID_NAME},
        {"C:\\a*b", ERROR_INVALID_NAME},
        {"C:\\a\x01", ERROR_INVALID_NAME},
        {"C:\\a|b", ERROR_INVALID_NAME},
        {"C:\\a:b", ERROR_INVALID_NAME},
        {"\\\\server\\share\\x", ERROR_PATH_NOT_FOUND},
        {"\\\\.\\device", ERROR_PATH_NOT_FOUND},
        {"\\\\?\\UNC\\server\\share\\x", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testing::open_error(to_wide(c.path), GENERIC_WRITE, CREATE_ALWAYS), c.error)
            << c.path;
    }
    ASSERT_TRUE(testing::write_file(to_wide("\\\\?\\C:\\verbatim.txt"), "v"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "machine" / "C" / "verbatim.txt"));
}

TEST_F(SimulatedFilePlaces, ReadOnlyIsTheOwnerWriteBitAndBindsEvenRoot) {
    const auto host = root_ / "work" / "locked";
    { std::ofstream(host) << "kept"; }
    std::filesystem::permissions(host, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    const auto path = to_wide(windows_text(host));
    EXPECT_EQ(GetFileAttributesW(path.c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(testing::open_error(path, GENERIC_WRITE, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(testing::open_error(path, GENERIC_READ, TRUNCATE_EXISTING),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_NE(std::filesystem::status(host).permissions() & std::filesystem::perms::owner_write,
              std::filesystem::perms::none);
}

TEST_F(SimulatedFilePlaces, SymbolicLinksShowAsReparsePoints) {
    std::filesystem::create_directories(root_ / "work" / "real");
    std::filesystem::create_directory_symlink(root_ / "work" / "real", root_ / "work" / "link");
    const auto link = to_wide(windows_text(root_ / "work" / "link"));
    EXPECT_EQ(GetFileAttributesW(link.c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(SimulatedFilePlaces, EveryCallFailsWithTheInjectedError) {
    const auto directory = to_wide(windows_text(root_ / "work" / "d"));
    const auto file = to_wide(windows_text(root_ / "work" / "f"));
    const auto other = to_wide(windows_text(root_ / "work" / "g"));
    ASSERT_TRUE(testing::write_file(file, "x"));
    const auto handles = winsim::open_handle_count();

    winsim::inject_fault("CreateFileW", 1234);
    EXPECT_EQ(testing::open_error(file, GENERIC_READ, OPEN_EXISTING), 1234u);
    winsim::inject_fault("CreateDirectoryW", 1235);
    EXPECT_EQ(testing::error_of(CreateDirectoryW(directory.c_str(), nullptr)), 1235u);
    winsim::inject_fault("GetFileAttributesW", 1236);
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), 1236u);
    winsim::inject_fault("SetFileAttributesW", 1237);
    EXPECT_EQ(testing::error_of(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY)), 1237u);
    winsim::inject_fault("DeleteFileW", 1238);
    EXPECT_EQ(testing::error_of(DeleteFileW(file.c_str())), 1238u);
    winsim::inject_fault("MoveFileExW", 1239);
    EXPECT_EQ(testing::error_of(MoveFileExW(file.c_str(), other.c_str(), 0)), 1239u);
    winsim::inject_fault("RemoveDirectoryW", 1240);
    EXPECT_EQ(testing::error_of(RemoveDirectoryW(directory.c_str())), 1240u);

    // Nothing happened: the file is still there and writable, no directory was made.
    EXPECT_EQ(GetFileAttributesW(file.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(directory.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(winsim::open_handle_count(), handles);
    EXPECT_EQ(winsim::pending_fault_count(), 0u);
}

TEST_F(SimulatedFilePlaces, RemovingDirectoriesReportsWhatIsInTheWay) {
    std::filesystem::create_directories(root_ / "work" / "full" / "inner");
    EXPECT_EQ(
        testing::error_of(RemoveDirectoryW(to_wide(windows_text(root_ / "work" / "full")).c_str())),
        static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    { std::ofstream(root_ / "work" / "plain") << "x"; }
    EXPECT_EQ(testing::error_of(
                  RemoveDirectoryW(to_wide(windows_text(root_ / "work" / "plain")).c_str())),
              static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_EQ(testing::error_of(RemoveDirectoryW(
                  to_wide(windows_text(root_ / "work" / "full" / "inner")).c_str())),
              0u);
}

}  // namespace
}  // namespace quarvel
