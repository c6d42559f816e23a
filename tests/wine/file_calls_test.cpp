// Wine's file calls give the answers the simulated host gives for the same cases (the host lane
// runs the same checks against the simulated host), sharing between open handles included. Wine
// 8 opens a file whose deletion waits for other handles, where Windows refuses: the shared checks
// leave that to the host lane. The read-only checks are not among them: Wine leaves that
// attribute to the host kernel's permission check, which does not stop root, the user these
// tests run as, so under Wine a read-only file can be written, replaced and deleted.

#include <gtest/gtest.h>

#include "support/file_semantics.h"

namespace quarvel {
namespace {

TEST(FileCalls, DirectoryCreationResultsMatchWindows) {
    testing::expect_directory_creation_results();
}
TEST(FileCalls, FileOpenResultsMatchWindows) {
    testing::expect_file_open_results();
}
TEST(FileCalls, MissingNameResultsMatchWindows) {
    testing::expect_missing_name_results();
}
TEST(FileCalls, RenameResultsMatchWindows) {
    testing::expect_rename_results();
}
TEST(FileCalls, ListingResultsMatchWindows) {
    testing::expect_listing_results();
}
TEST(FileCalls, SharingBetweenOpenHandlesMatchesWindows) {
    testing::expect_sharing_results();
}
TEST(FileCalls, DeletingAndRenamingOpenObjectsMatchWindows) {
    testing::expect_delete_and_rename_sharing_results();
}
TEST(FileCalls, DeletionsWaitForTheLastHandleAsOnWindows) {
    testing::expect_delete_on_close_results();
}

}  // namespace
}  // namespace quarvel
