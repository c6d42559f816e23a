// Publishing status documents on the simulated host: where the temporary file goes, how an
// existing or read-only target is replaced, and every failure a file call can cause, with the
// previous document kept and no handle left open.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <thread>
#include <vector>

#include "status/publish_status.h"
#include "support/host_scratch.h"
#include "support/process_runner.h"

namespace quarvel {
namespace {

class PublishStatus : public testing::HostScratch {
  protected:
    static StatusReport ready() {
        return success_report(Operation::probe, StatusState::ready, "ready",
                              "Windows command protection is ready.");
    }
    static std::string ready_json() { return status_json(ready()).value(); }

    // Names in the directory that look like temporary status files.
    static std::vector<std::string> leftovers(const std::filesystem::path& directory) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            const auto name = entry.path().filename().string();
            if (name.starts_with(".quarvel-status-"))
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(PublishStatus, WritesTheDocumentAndLeavesNoTemporaryFile) {
    const auto handles = winsim::open_handle_count();
    ASSERT_TRUE(publish_status(windows_form(work("status.json")), ready()));
    EXPECT_EQ(host_contents(work("status.json")), ready_json());
    EXPECT_TRUE(leftovers(work()).empty());
    EXPECT_EQ(winsim::open_handle_count(), handles);
}

TEST_F(PublishStatus, BareFileNameIsPublishedInTheCurrentDirectory) {
    std::filesystem::current_path(work());
    // A failing first rename keeps the temporary file, which shows where it was made.
    winsim::inject_fault("MoveFileExW", ERROR_SHARING_VIOLATION);
    const auto refused = publish_status(to_wide("status.json"), ready());
    ASSERT_FALSE(refused);
    EXPECT_EQ(leftovers(work()).size(), 1u);
    ASSERT_TRUE(publish_status(to_wide("status.json"), ready()));
    EXPECT_EQ(host_contents(work("status.json")), ready_json());
}

TEST_F(PublishStatus, MissingParentDirectoriesAreCreated) {
    ASSERT_TRUE(publish_status(windows_form(work("a/b/c/status.json")), ready()));
    EXPECT_EQ(host_contents(work("a/b/c/status.json")), ready_json());
    ASSERT_TRUE(publish_status(to_wide("C:\\state\\deep\\status.json"), ready()));
    EXPECT_EQ(host_contents(root_ / "machine" / "C" / "state" / "deep" / "status.json"),
              ready_json());
}

TEST_F(PublishStatus, ExistingTargetIsReplacedWhole) {
    put_host_file(work("status.json"), std::string(1000, 'x'));
    ASSERT_TRUE(publish_status(windows_form(work("status.json")), ready()));
    EXPECT_EQ(host_contents(work("status.json")), ready_json());
}

TEST_F(PublishStatus, ReadOnlyTargetIsDeletedAndReplacedWhenTheRenameIsRefused) {
    put_host_file(work("status.json"), "old");
    make_read_only(work("status.json"));
    ASSERT_TRUE(publish_status(windows_form(work("status.json")), ready()));
    EXPECT_EQ(host_contents(work("status.json")), ready_json());
    EXPECT_FALSE(is_read_only(work("status.json")));
    EXPECT_TRUE(leftovers(work()).empty());
}

TEST_F(PublishStatus, PathsWithoutAParentAreRefused) {
    for (const char* path : {"", "C:\\", "\\", "\\\\server\\share\\", "C:"}) {
        const auto published = publish_status(to_wide(path), ready());
        ASSERT_FALSE(published) << path;
        EXPECT_EQ(published.error(),
                  fixed_failure("invalid_request", "Status file has no parent directory.", 64))
            << path;
    }
}

TEST_F(PublishStatus, FirstTwoPublicationsOfAProcessAreNumberedZeroAndOne) {
    // The target is a directory, so both publications fail and leave their temporary files.
    std::filesystem::create_directories(work("target"));
    testing::ProcessOptions options;
    options.environment["WINSIM_MACHINE"] = (root_ / "machine").string();
    const auto outcome =
        testing::run_process({std::string(QUARVEL_TEST_PROGRAM_DIR) + "/publish_twice",
                              narrow_lossy(windows_form(work("target")))},
                             options);
    ASSERT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    const std::string pid = outcome.standard_output.substr(0, outcome.standard_output.find('\n'));
    EXPECT_EQ(leftovers(work()), (std::vector<std::string>{".quarvel-status-" + pid + "-0.tmp",
                                                           ".quarvel-status-" + pid + "-1.tmp"}));
    const std::string refused =
        error_line(io_failure("Could not replace status file", ERROR_ACCESS_DENIED));
    EXPECT_EQ(outcome.standard_output, pid + "\n" + refused + "\n" + refused + "\n");
}

TEST_F(PublishStatus, ConcurrentPublicationsUseDistinctTemporariesAndLeaveWholeDocuments) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 25;
    std::vector<std::thread> threads;
    std::vector<int> own_failures(kThreads, 0);
    std::vector<std::vector<Failure>> shared_failures(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                StatusReport report = ready();
                report.message = "thread " + std::to_string(t) + " round " + std::to_string(round) +
                                 std::string(t * 500, '.');
                if (!publish_status(windows_form(work("own-" + std::to_string(t) + ".json")),
                                    report))
                    ++own_failures[t];
                // Renames onto one path may race (Windows refuses to replace a file another
                // rename still holds); such a publication fails whole.
                if (auto shared = publish_status(windows_form(work("shared.json")), report);
                    !shared)
                    shared_failures[t].push_back(shared.error());
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(own_failures[t], 0) << "thread " << t;
        for (const auto& failure : shared_failures[t])
            EXPECT_EQ(failure.code, "io_error") << failure.message;
        StatusReport last = ready();
        last.message = "thread " + std::to_string(t) + " round " + std::to_string(kRounds - 1) +
                       std::string(t * 500, '.');
        EXPECT_EQ(host_contents(work("own-" + std::to_string(t) + ".json")),
                  status_json(last).value());
    }
    const auto shared = host_contents(work("shared.json"));
    EXPECT_TRUE(shared.starts_with(R"({"version":1,"operation":"probe")")) << shared;
    EXPECT_TRUE(shared.ends_with(R"(,"setup_version":2})")) << shared;
    EXPECT_TRUE(leftovers(work()).empty());
}

struct FailureRow {
    const char* name;
    std::vector<winsim::Fault> faults;
    bool read_only_target;
    std::string expected;  // the failure's message
    std::string target_after;
    const char* target = "status.json";
};

TEST_F(PublishStatus, EachFileCallFailureGivesItsFailureAndKeepsThePreviousDocument) {
    const auto io = [](const char* context, std::uint32_t error) {
        return io_failure(context, error).message;
    };
    const std::vector<FailureRow> rows = {
        {"directory creation",
         {{"CreateDirectoryW", 1, ERROR_ACCESS_DENIED}},
         false,
         io("Could not create status directory", ERROR_ACCESS_DENIED),
         "<missing>",
         "new/status.json"},
        {"temporary file creation",
         {{"CreateFileW", 1, ERROR_ACCESS_DENIED}},
         false,
         io("Could not write status file", ERROR_ACCESS_DENIED),
         "old"},
        {"temporary file write",
         {{"WriteFile", 1, 112}},
         false,
         io("Could not write status file", 112),
         "old"},
        {"write that takes nothing",
         {{"WriteFile", 1, 0, winsim::FaultKind::quirk}},
         false,
         io("Could not write status file", ERROR_WRITE_FAULT),
         "old"},
        {"rename refused, attributes unreadable",
         // The first query is the directory check before the temporary file is written.
         {{"MoveFileExW", 1, ERROR_SHARING_VIOLATION}, {"GetFileAttributesW", 2, 5}},
         false,
         io("Could not publish status file", ERROR_SHARING_VIOLATION),
         "old"},
        {"rename refused, target cannot be deleted",
         {{"MoveFileExW", 1, ERROR_SHARING_VIOLATION}, {"DeleteFileW", 1, ERROR_SHARING_VIOLATION}},
         false,
         io("Could not replace status file", ERROR_SHARING_VIOLATION),
         "old"},
        {"read-only target, attribute cannot be cleared",
         {{"SetFileAttributesW", 1, 5}},
         true,
         io("Could not replace status file", 5),
         "old"},
        {"read-only target cannot be deleted",
         {{"DeleteFileW", 1, 32}},
         true,
         io("Could not replace status file", 32),
         "old"},
        {"second rename fails",
         {{"MoveFileExW", 2, 32}},
         true,
         io("Could not replace status file", 32),
         "<missing>"},
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(work());
        std::filesystem::create_directories(work());
        put_host_file(work("status.json"), "old");
        if (row.read_only_target)
            make_read_only(work("status.json"));
        const auto handles = winsim::open_handle_count();
        for (const auto& fault : row.faults)
            winsim::inject_fault(fault);
        const auto published = publish_status(windows_form(work(row.target)), ready());
        ASSERT_FALSE(published) << row.name;
        EXPECT_EQ(published.error().code, "io_error") << row.name;
        EXPECT_EQ(published.error().exit_code, 74) << row.name;
        EXPECT_EQ(published.error().message, row.expected) << row.name;
        EXPECT_EQ(host_contents(work(row.target)), row.target_after) << row.name;
        if (row.read_only_target && row.target_after != "<missing>") {
            EXPECT_TRUE(is_read_only(work("status.json"))) << row.name << ": attribute restored";
        }
        EXPECT_EQ(winsim::open_handle_count(), handles) << row.name;
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << row.name;
        winsim::clear_faults();
    }
}

TEST_F(PublishStatus, RenameFailureWithoutTargetReportsTheRenameError) {
    winsim::inject_fault("MoveFileExW", ERROR_SHARING_VIOLATION);
    const auto published = publish_status(windows_form(work("status.json")), ready());
    ASSERT_FALSE(published);
    EXPECT_EQ(published.error().message,
              io_failure("Could not publish status file", ERROR_SHARING_VIOLATION).message);
    EXPECT_EQ(leftovers(work()).size(), 1u) << "the temporary file stays";
}

TEST_F(PublishStatus, RefusedRenameOntoALinkCountsTheLinkOnlyWhenItLeadsSomewhere) {
    std::filesystem::create_symlink(work("gone"), work("dangling.json"));
    winsim::inject_fault("MoveFileExW", ERROR_SHARING_VIOLATION);
    const auto dangling = publish_status(windows_form(work("dangling.json")), ready());
    ASSERT_FALSE(dangling);
    EXPECT_EQ(dangling.error().message,
              io_failure("Could not publish status file", ERROR_SHARING_VIOLATION).message);

    put_host_file(work("real.json"), "old");
    std::filesystem::create_symlink(work("real.json"), work("live.json"));
    winsim::inject_fault("MoveFileExW", ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(publish_status(windows_form(work("live.json")), ready()));
    EXPECT_FALSE(std::filesystem::is_symlink(work("live.json")));
    EXPECT_EQ(host_contents(work("live.json")), ready_json());
    EXPECT_EQ(host_contents(work("real.json")), "old");
}

TEST_F(PublishStatus, FileInTheWayOfTheDirectoryIsReported) {
    put_host_file(work("blocker"), "x");
    const auto published = publish_status(windows_form(work("blocker/sub/status.json")), ready());
    ASSERT_FALSE(published);
    EXPECT_EQ(published.error().message,
              io_failure("Could not create status directory", ERROR_ALREADY_EXISTS).message);
}

TEST_F(PublishStatus, DocumentThatIsNotUtf8IsASerializationFailure) {
    StatusReport report = ready();
    report.message = "bad \xC0 byte";
    const auto published = publish_status(windows_form(work("status.json")), report);
    ASSERT_FALSE(published);
    EXPECT_EQ(published.error(), fixed_failure("status_serialization_failed",
                                               "string contains invalid UTF-8 characters", 70));
    EXPECT_FALSE(std::filesystem::exists(work("status.json")));
}

}  // namespace
}  // namespace quarvel
