// Publishing status documents through Wine's file calls: parents made, targets replaced
// (read-only ones too), and threads publishing at once.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "status/publish_status.h"
#include "support/file_semantics.h"

namespace quarvel {
namespace {

StatusReport ready(std::string message = "Windows command protection is ready.") {
    return success_report(Operation::probe, StatusState::ready, "ready", std::move(message));
}

TEST(WinePublishStatus, MissingParentsAreCreatedAndTheDocumentWritten) {
    testing::ScratchDirectory scratch;
    scratch.name("a");
    scratch.name("a\\b");
    const auto target = scratch.name("a\\b\\status.json");
    ASSERT_TRUE(publish_status(target, ready()));
    EXPECT_EQ(testing::read_file(target), status_json(ready()).value());
}

TEST(WinePublishStatus, ExistingAndReadOnlyTargetsAreReplaced) {
    testing::ScratchDirectory scratch;
    const auto plain = scratch.name("plain.json");
    const auto locked = scratch.name("locked.json");
    ASSERT_TRUE(testing::write_file(plain, std::string(500, 'x')));
    ASSERT_TRUE(testing::write_file(locked, "old", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(publish_status(plain, ready()));
    ASSERT_TRUE(publish_status(locked, ready()));
    EXPECT_EQ(testing::read_file(plain), status_json(ready()).value());
    EXPECT_EQ(testing::read_file(locked), status_json(ready()).value());
}

TEST(WinePublishStatus, EightThreadsWithTargetsOfTheirOwnAllSucceed) {
    testing::ScratchDirectory scratch;
    std::vector<WideString> targets;
    for (int t = 0; t < 8; ++t)
        targets.push_back(scratch.name("own-" + std::to_string(t)));
    std::vector<int> failures(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; ++round)
                if (!publish_status(targets[t], ready("thread " + std::to_string(t) + " round " +
                                                      std::to_string(round))))
                    ++failures[t];
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
        EXPECT_EQ(testing::read_file(targets[t]),
                  status_json(ready("thread " + std::to_string(t) + " round 9")).value());
    }
}

// Renames onto one path race: Windows (and Wine) refuse to replace a file that another rename
// still holds open, and the fallback can find the target deleted by another thread. Such a
// publication fails as a whole; the file is always one whole document.
TEST(WinePublishStatus, EightThreadsOnOneTargetLeaveAWholeDocument) {
    testing::ScratchDirectory scratch;
    const auto shared = scratch.name("shared.json");
    std::vector<std::vector<std::string>> failures(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; ++round) {
                const auto published = publish_status(
                    shared, ready("thread " + std::to_string(t) +
                                  std::string(static_cast<std::size_t>(t) * 300, '.')));
                if (!published)
                    failures[t].push_back(published.error().message);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (const auto& messages : failures)
        for (const auto& message : messages)
            EXPECT_TRUE(message.starts_with("Could not publish status file: ") ||
                        message.starts_with("Could not replace status file: "))
                << message;
    const std::string text = testing::read_file(shared);
    EXPECT_TRUE(text.starts_with(R"({"version":1,"operation":"probe")")) << text;
    EXPECT_TRUE(text.ends_with(R"(,"setup_version":2})")) << text;
    // Temporary files of failed publications stay behind; clean them up.
    for (std::uint64_t n = 0; n < 2000; ++n) {
        const std::string name = ".quarvel-status-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(n) + ".tmp";
        if (GetFileAttributesW((scratch.path() + to_wide("\\" + name)).c_str()) !=
            INVALID_FILE_ATTRIBUTES)
            scratch.name(name);
    }
}

}  // namespace
}  // namespace quarvel
