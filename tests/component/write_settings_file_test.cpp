// Writing the setup files on the simulated host: the replace procedure, and every failure a file
// call can cause with what it leaves behind.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "support/host_scratch.h"
#include "windows/setup/setup_files.h"

namespace quarvel {
namespace {

class WriteSettingsFile : public testing::HostScratch {
  protected:
    static SetupMarker marker(std::uint64_t created_at) {
        return SetupMarker{2, "S-1-5-21-1-2-3-1001", "S-1-5-21-1-2-3-1002",
                           "S-1-5-21-1-2-3-1003", "S-1-5-21-1-2-3-500", created_at};
    }
    std::string temporary_name() const {
        return "setup.tmp-" + std::to_string(::getpid());
    }
};

TEST_F(WriteSettingsFile, ReplacesTheTargetAndLeavesNoTemporaryFile) {
    const auto handles = winsim::open_handle_count();
    const WideString target = windows_form(work("setup.json"));
    ASSERT_TRUE(write_settings_file(target, marker(1)));
    ASSERT_TRUE(write_settings_file(target, marker(2)));
    EXPECT_EQ(host_contents(work("setup.json")), setup_marker_json(marker(2)).value());
    EXPECT_FALSE(std::filesystem::exists(work(temporary_name())));
    EXPECT_EQ(winsim::open_handle_count(), handles);

    const SetupSecrets secrets{2, {"QuarvelSandboxOnline", "00"}, {"QuarvelSandboxNoNet", "11"}};
    ASSERT_TRUE(write_settings_file(windows_form(work("credentials.json")), secrets));
    EXPECT_EQ(host_contents(work("credentials.json")), setup_secrets_json(secrets).value());
}

TEST_F(WriteSettingsFile, EachFailingStepKeepsWhatTheProcedureSaysItKeeps) {
    const struct {
        const char* function;
        std::uint32_t error;
        const char* message;
        bool old_kept;       // the previous setup.json is still there
        bool temporary_left; // the new text waits in the temporary file
    } rows[] = {
        {"CreateFileW", 5, "Could not write protection settings: Access is denied. (os error 5)",
         true, false},
        {"DeleteFileW", 32,
         "Could not replace protection settings: The process cannot access the file because it "
         "is being used by another process. (os error 32)",
         true, true},
        {"MoveFileExW", 5, "Could not publish protection settings: Access is denied. (os error 5)",
         false, true},
    };
    for (const auto& row : rows) {
        put_host_file(work("setup.json"), "old");
        std::filesystem::remove(work(temporary_name()));
        winsim::inject_fault(row.function, row.error);
        const auto written = write_settings_file(windows_form(work("setup.json")), marker(7));
        ASSERT_FALSE(written) << row.function;
        EXPECT_EQ(written.error(), fixed_failure("io_error", row.message, 74)) << row.function;
        EXPECT_EQ(host_contents(work("setup.json")), row.old_kept ? "old" : "<missing>")
            << row.function;
        EXPECT_EQ(std::filesystem::exists(work(temporary_name())), row.temporary_left)
            << row.function;
    }
}

TEST_F(WriteSettingsFile, TextThatIsNotUtf8IsASerializationFailureThatTouchesNoFile) {
    put_host_file(work("setup.json"), "old");
    SetupMarker broken = marker(3);
    broken.owner_sid = "S-1-5-\xC0";
    const auto marker_written = write_settings_file(windows_form(work("setup.json")), broken);
    ASSERT_FALSE(marker_written);
    EXPECT_EQ(marker_written.error(),
              fixed_failure("settings_serialization_failed",
                            "string contains invalid UTF-8 characters", 70));
    EXPECT_EQ(host_contents(work("setup.json")), "old");
    EXPECT_FALSE(std::filesystem::exists(work(temporary_name())));

    const SetupSecrets secrets{2, {"QuarvelSandboxOnline", "00"}, {"QuarvelSandbox\xFF", "11"}};
    const auto secrets_written =
        write_settings_file(windows_form(work("credentials.json")), secrets);
    ASSERT_FALSE(secrets_written);
    EXPECT_EQ(secrets_written.error().code, "settings_serialization_failed");
    EXPECT_FALSE(std::filesystem::exists(work("credentials.json")));
    EXPECT_FALSE(std::filesystem::exists(work("credentials.tmp-" + std::to_string(::getpid()))));
}

}  // namespace
}  // namespace quarvel
