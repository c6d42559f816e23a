// Sharing and waiting deletions on the simulated host where they cross processes or go beyond
// what the shared checks (support/file_semantics.h) hold Wine to: a holder's part ends with its
// process however it ends, a folder with anything open below it is not renamed, a deletion
// left pending by a killed process is carried out at the next look-up, and the record protocol
// of a run that lives or has died.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>

#include "platform/wide_text.h"
#include "support/file_semantics.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/started_program.h"

namespace quarvel {
namespace {

using testing::error_of;
using testing::kShareAll;
using testing::open_shared;

const std::string kHolder = testing::test_program("file_holder");

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

class SimulatedFileSharing : public testing::LeakCheckedTest {
  protected:
    // A holder process with the file open; returns once its open is done.
    testing::StartedProgram hold(const WideString& path, DWORD access, DWORD share, DWORD flags,
                                 const char* release, const char* ending) {
        std::string ready_name = "C:\\ready-";
        ready_name += std::to_string(++holders_);
        const WideString ready = to_wide(ready_name);
        // Appended piece by piece: GCC 12 at -O3 takes "..." + text for an overlapping copy.
        std::string arguments = "\"";
        for (const std::string& piece :
             {narrow_lossy(path) + "\"", hex(access), hex(share), hex(flags), ready_name,
              std::string(release), std::string(ending)}) {
            arguments += piece;
            arguments += ' ';
        }
        auto holder = testing::start_program(kHolder, arguments);
        EXPECT_TRUE(holder.process.valid());
        EXPECT_TRUE(testing::appears_within(ready, 20000)) << narrow_lossy(path);
        return holder;
    }

    int holders_ = 0;
};

// However the holder ends (returning, ExitProcess with the handle open, or killed), its
// refusal to share deleting ends with it.
TEST_F(SimulatedFileSharing, AHoldersSharingEndsWithItsProcessHoweverItEnds) {
    const struct Row {
        const char* ending;
        bool killed;
    } rows[] = {{"return", false}, {"exit-process", false}, {"return", true}};
    for (const auto& row : rows) {
        const WideString file = to_wide("C:\\held.txt");
        ASSERT_TRUE(testing::write_file(file, "x"));
        DeleteFileW(WIDE("C:\\release"));
        auto holder = hold(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                           row.killed ? "-" : "C:\\release", row.ending);
        EXPECT_EQ(error_of(DeleteFileW(file.c_str())), static_cast<DWORD>(ERROR_SHARING_VIOLATION))
            << row.ending;
        if (row.killed)
            ASSERT_TRUE(TerminateProcess(holder.process.get(), 9));
        else
            ASSERT_TRUE(testing::write_file(to_wide("C:\\release"), "go"));
        ASSERT_NE(testing::exit_code_within(holder.process.get(), 20000), 0xFFFFFFFFu);
        EXPECT_EQ(error_of(DeleteFileW(file.c_str())), 0u) << row.ending;
    }
}

TEST_F(SimulatedFileSharing, AFolderIsNotRenamedWhileAnythingBelowItIsOpen) {
    for (const char* folder : {"C:\\top", "C:\\top\\middle", "C:\\top\\middle\\bottom"})
        ASSERT_TRUE(CreateDirectoryW(to_wide(folder).c_str(), nullptr));
    const WideString deep = to_wide("C:\\top\\middle\\bottom\\file.txt");
    ASSERT_TRUE(testing::write_file(deep, "x"));
    const struct Row {
        const char* open;
        DWORD flags;
    } rows[] = {{"C:\\top\\middle\\bottom\\file.txt", 0},
                {"C:\\top\\middle\\bottom", FILE_FLAG_BACKUP_SEMANTICS}};
    for (const auto& row : rows) {
        // Opened for attributes alone and sharing everything: an open handle all the same.
        UniqueHandle held(
            open_shared(to_wide(row.open), FILE_READ_ATTRIBUTES, kShareAll, row.flags));
        ASSERT_TRUE(held.valid()) << row.open;
        for (const char* folder : {"C:\\top", "C:\\top\\middle"})
            EXPECT_EQ(
                error_of(MoveFileExW(to_wide(folder).c_str(), to_wide("C:\\moved").c_str(), 0)),
                static_cast<DWORD>(ERROR_ACCESS_DENIED))
                << row.open << " below " << folder;
    }
    // In another process too, and until that process has gone.
    auto holder = hold(deep, GENERIC_READ, kShareAll, 0, "-", "return");
    EXPECT_EQ(error_of(MoveFileExW(WIDE("C:\\top"), WIDE("C:\\moved"), 0)),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(TerminateProcess(holder.process.get(), 9));
    ASSERT_NE(testing::exit_code_within(holder.process.get(), 20000), 0xFFFFFFFFu);
    EXPECT_EQ(error_of(MoveFileExW(WIDE("C:\\top"), WIDE("C:\\moved"), 0)), 0u);
}

TEST_F(SimulatedFileSharing, APendingDeletionRefusesEveryLookUpUntilTheLastHandleCloses) {
    const WideString file = to_wide("C:\\pending.txt");
    ASSERT_TRUE(testing::write_file(file, "x"));
    {
        UniqueHandle other(open_shared(file, GENERIC_READ, kShareAll));
        ASSERT_TRUE(other.valid());
        ASSERT_EQ(error_of(DeleteFileW(file.c_str())), 0u);
        constexpr DWORD kDenied = ERROR_ACCESS_DENIED;
        EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), kDenied);
        EXPECT_EQ(testing::open_error(file, GENERIC_WRITE, CREATE_ALWAYS), kDenied);
        EXPECT_EQ(error_of(DeleteFileW(file.c_str())), kDenied);
        EXPECT_EQ(error_of(MoveFileExW(file.c_str(), WIDE("C:\\elsewhere"), 0)), kDenied);
    }
    EXPECT_EQ(testing::open_error(file, GENERIC_READ, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Once a FILE_FLAG_DELETE_ON_CLOSE handle has closed, nobody gets in, sharing deleting or not.
    ASSERT_TRUE(testing::write_file(file, "x"));
    {
        UniqueHandle deleting(
            open_shared(file, GENERIC_READ | DELETE, kShareAll, FILE_FLAG_DELETE_ON_CLOSE));
        UniqueHandle other(open_shared(file, GENERIC_READ, kShareAll));
        ASSERT_TRUE(deleting.valid() && other.valid());
        deleting.reset();
        UniqueHandle late(open_shared(file, GENERIC_READ, kShareAll));
        EXPECT_EQ(late ? 0u : GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(testing::open_error(file, GENERIC_READ, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(testing::write_file(file, "the name is free again"));
}

// A FILE_FLAG_DELETE_ON_CLOSE handle deletes its file even when its process ends without
// closing it; the deletion is carried out when the name is next looked up.
TEST_F(SimulatedFileSharing, ADeleteOnCloseHandleDeletesItsFileWhenItsProcessIsKilled) {
    for (const char* ending : {"exit-process", "killed"}) {
        const WideString file = to_wide("C:\\temporary.txt");
        ASSERT_TRUE(testing::write_file(file, "x"));
        const bool killed = std::string(ending) == "killed";
        DeleteFileW(WIDE("C:\\release"));
        auto holder = hold(file, GENERIC_READ | DELETE, kShareAll, FILE_FLAG_DELETE_ON_CLOSE,
                           killed ? "-" : "C:\\release", killed ? "return" : ending);
        EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES) << ending;
        if (killed)
            ASSERT_TRUE(TerminateProcess(holder.process.get(), 9));
        else
            ASSERT_TRUE(testing::write_file(to_wide("C:\\release"), "go"));
        ASSERT_NE(testing::exit_code_within(holder.process.get(), 20000), 0xFFFFFFFFu);
        EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES) << ending;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << ending;
    }
}

// A run keeps its record open without sharing deleting for as long as it lives; a later run
// tells a dead run's record by being let in for DELETE, then reads it and deletes it.
TEST_F(SimulatedFileSharing, ALivingRunsRecordRefusesDeleteAccessAndADeadRunsRecordIsTakenOver) {
    const WideString record = to_wide("C:\\record.json");
    ASSERT_TRUE(testing::write_file(record, "{\"granted\":[]}"));
    auto run = hold(record, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, "-", "return");
    EXPECT_EQ(testing::open_error(record, GENERIC_READ | DELETE, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(TerminateProcess(run.process.get(), 9));
    ASSERT_NE(testing::exit_code_within(run.process.get(), 20000), 0xFFFFFFFFu);

    UniqueHandle taken(open_shared(record, GENERIC_READ | DELETE, 0));
    ASSERT_TRUE(taken.valid()) << GetLastError();
    char text[64] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(taken.get(), text, sizeof text - 1, &got, nullptr));
    EXPECT_EQ(std::string(text, got), "{\"granted\":[]}");
    // Held exclusively: nobody else gets in while it is cleaned up.
    EXPECT_EQ(testing::open_error(record, GENERIC_READ, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    FILE_DISPOSITION_INFO remove{};
    remove.DeleteFile = TRUE;
    winsim::inject_fault("SetFileInformationByHandle", 5);
    EXPECT_EQ(error_of(SetFileInformationByHandle(taken.get(), FileDispositionInfo, &remove,
                                                  sizeof remove)),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(
        SetFileInformationByHandle(taken.get(), FileDispositionInfo, &remove, sizeof remove));
    taken.reset();
    EXPECT_EQ(GetFileAttributesW(record.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace quarvel
