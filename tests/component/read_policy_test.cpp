// Reading the policy file on the simulated host: the whole file whatever its size, and the
// failures of each file call, with no handle left open.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "documents/sandbox_policy.h"
#include "support/host_scratch.h"

namespace quarvel {
namespace {

using ReadPolicy = testing::HostScratch;

TEST_F(ReadPolicy, ReadsAFileLongerThanOneChunk) {
    // Whitespace pads the document far past one read.
    put_host_file(work("policy.json"),
                  R"({"cwd":"C:\\w","runtime_dir":"C:\\r","status_file":"C:\\s.json"})" +
                      std::string(200000, ' ') + "\n");
    const auto policy = read_policy(windows_form(work("policy.json")));
    ASSERT_TRUE(policy.has_value()) << policy.error().message;
    EXPECT_EQ(policy->status_file, to_wide("C:\\s.json"));
}

TEST_F(ReadPolicy, FileCallFailuresAreIoFailuresWithTheirError) {
    put_host_file(work("policy.json"), "{}");
    std::filesystem::create_directories(work("directory"));
    const struct {
        const char* name;
        const char* file;
        const char* fault;
        std::uint32_t error;
    } cases[] = {
        {"missing file", "missing.json", nullptr, ERROR_FILE_NOT_FOUND},
        {"missing folder", "nowhere/policy.json", nullptr, ERROR_PATH_NOT_FOUND},
        {"directory", "directory", nullptr, ERROR_ACCESS_DENIED},
        {"open refused", "policy.json", "CreateFileW", ERROR_SHARING_VIOLATION},
        {"read fails", "policy.json", "ReadFile", 23},
    };
    for (const auto& c : cases) {
        const auto handles = winsim::open_handle_count();
        if (c.fault != nullptr)
            winsim::inject_fault(c.fault, c.error);
        const auto policy = read_policy(windows_form(work(c.file)));
        ASSERT_FALSE(policy.has_value()) << c.name;
        EXPECT_EQ(policy.error(), io_failure("Could not read policy", c.error)) << c.name;
        EXPECT_EQ(winsim::open_handle_count(), handles) << c.name;
    }
}

TEST_F(ReadPolicy, DocumentProblemsAreInvalidRequests) {
    put_host_file(work("policy.json"), R"({"cwd":"a","runtime_dir":"b"})");
    const auto policy = read_policy(windows_form(work("policy.json")));
    ASSERT_FALSE(policy.has_value());
    EXPECT_EQ(
        policy.error(),
        fixed_failure("invalid_request",
                      "Invalid policy JSON: missing field `status_file` at line 1, column 1", 64));
}

}  // namespace
}  // namespace quarvel
