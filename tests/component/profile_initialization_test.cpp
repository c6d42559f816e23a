// Profile initialisation on the simulated host: cmd.exe run as the account makes its profile,
// a failing or hanging command is reported without a Windows error (the hanging one ended with
// 125), and every platform failure gives its row with no handle or process left.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/fault_row.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "windows/setup/profile_initialization.h"
#include "windows/setup/system_command.h"

namespace quarvel {
namespace {

using namespace std::chrono_literals;

constexpr const char* kAccount = "QuarvelSandboxOnline";
constexpr const char* kPassword = "Qv7!0123456789abcdef";

class ProfileInitialization : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        winsim::ensure_local_user(kAccount, kPassword);
        // The first question installs cmd.exe, as a machine has it from the start.
        ASSERT_TRUE(system_command_path());
    }
    void TearDown() override {
        LeakCheckedTest::TearDown();
        EXPECT_TRUE(testing::live_children().empty());
    }
    std::string system32() const { return machine_ + "/C/Windows/System32"; }
    // Puts a command of the test's choosing where cmd.exe is.
    void replace_command(const std::string& script) const {
        std::ofstream(system32() + "/cmd.exe", std::ios::trunc) << "#!/bin/sh\n" << script << "\n";
    }
    static Failure unfinished() {
        return fixed_failure("profile_initialization_failed",
                             "Windows could not finish command protection setup.", 70);
    }
};

TEST_F(ProfileInitialization, CommandRunsAsTheAccountAndLeavesItsProfile) {
    ASSERT_TRUE(initialize_profile(kAccount, kPassword));
    EXPECT_TRUE(std::filesystem::is_directory(machine_ + "/C/Users/QuarvelSandboxOnline"));
}

TEST_F(ProfileInitialization, CommandEndingWithOneIsReportedWithoutAWindowsError) {
    replace_command("exit 1");
    EXPECT_EQ(initialize_profile(kAccount, kPassword).error(), unfinished());
}

TEST_F(ProfileInitialization, HangingCommandIsEndedWith125AndReportedWithoutAWindowsError) {
    const std::string pid_file = machine_ + "/hanging.pid";
    replace_command("echo $$ > " + pid_file + "; exec sleep 60");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(initialize_profile(kAccount, kPassword, {50ms, 5000ms}).error(), unfinished());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    // The code it was ended with, as the simulated host records it for whoever holds a handle.
    std::string pid;
    std::ifstream(pid_file) >> pid;
    ASSERT_FALSE(pid.empty());
    std::string record;
    std::getline(std::ifstream(machine_ + "/processes/" + pid + ".exit"), record);
    EXPECT_EQ(record.substr(0, record.find(' ')), "125") << record;
}

TEST_F(ProfileInitialization, LongSystemDirectoryIsAskedForAgainWithTheSizeWindowsNeeds) {
    const std::string deep = "C:\\" + std::string(150, 'w') + "\\" + std::string(150, 'x');
    winsim::set_windows_directory(deep);
    auto path = system_command_path();
    ASSERT_TRUE(path) << path.error().message;
    EXPECT_EQ(narrow_lossy(*path), deep + "\\System32\\cmd.exe");
    EXPECT_TRUE(initialize_profile(kAccount, kPassword));
}

TEST_F(ProfileInitialization, MissingCommandIsUnavailableWithoutAWindowsError) {
    std::filesystem::remove(system32() + "/cmd.exe");
    EXPECT_EQ(
        initialize_profile(kAccount, kPassword).error(),
        fixed_failure("system_command_unavailable", "Windows system command is unavailable.", 70));
}

TEST_F(ProfileInitialization, EveryPlatformFailureGivesItsRowAndLeavesNothing) {
    using winsim::FaultKind;
    const testing::FaultRow rows[] = {
        {"GetSystemDirectoryW", 1, 8, FaultKind::fail, "system_command_unavailable",
         "Windows system command is unavailable. Windows error 8."},
        {"CreateProcessWithLogonW", 1, 1326, FaultKind::fail, "profile_initialization_failed",
         "Windows could not finish command protection setup. Windows error 1326."},
        {"CreateProcessWithLogonW", 1, 1, FaultKind::quirk, "profile_initialization_failed",
         "Windows could not finish command protection setup. Windows error "},
        {"CreateProcessWithLogonW", 1, 2, FaultKind::quirk, "profile_initialization_failed",
         "Windows could not finish command protection setup. Windows error "},
        {"WaitForSingleObject", 1, 6, FaultKind::fail, "profile_initialization_failed",
         "Windows could not finish command protection setup. Windows error 6."},
        {"GetExitCodeProcess", 1, 5, FaultKind::fail, "profile_initialization_failed",
         "Windows could not finish command protection setup. Windows error 5."},
    };
    for (const auto& row : rows) {
        testing::arm(row);
        auto initialized = initialize_profile(kAccount, kPassword, {2000ms, 2000ms});
        ASSERT_FALSE(initialized) << row.function;
        testing::expect_row_failure(initialized.error(), row);
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
        for (const pid_t child : testing::live_children())
            EXPECT_TRUE(testing::wait_until_ended(child, 30000)) << row.function;
    }
    EXPECT_EQ(initialize_profile(kAccount, "wrong").error().message,
              "Windows could not finish command protection setup. Windows error 1326.");
}

}  // namespace
}  // namespace quarvel
