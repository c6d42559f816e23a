// Launching the confined command on the simulated host: what the command gets, the progress
// stages, waiting for it, and every launch failure leaving no process, desktop or handle.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "support/anonymous_pipe.h"
#include "support/fault_row.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/started_program.h"
#include "windows/channel/message_framing.h"
#include "windows/process/command_launch.h"

namespace quarvel {
namespace {

constexpr const char* kGroup = "S-1-5-21-1000-2000-3000-1010";
constexpr const char* kCapability = "S-1-5-21-1000-2000-3000-4000";
constexpr const char* kOtherRunsCapability = "S-1-5-21-1000-2000-3000-4001";
constexpr const char* kAccount = "QuarvelSandboxOnline";

using testing::read_all;

class CommandLaunch : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        // The standard handles live as long as the process; a launch looks at them.
        for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
            GetStdHandle(which);
        count_resources_from_now();
    }
    void TearDown() override {
        LeakCheckedTest::TearDown();
        EXPECT_EQ(nlohmann::json::parse(winsim::desktops_json()).size(), 0u);
        EXPECT_TRUE(testing::live_children().empty());
    }

    static CommandSpec spec(std::vector<std::string> arguments,
                            const char* capability = kCapability) {
        return CommandSpec{std::move(arguments), to_wide(testing::windows_form("/tmp")), kGroup,
                           capability};
    }
    // Launches, waits, and gives the exit code.
    static DWORD exit_code_of(const CommandSpec& command) {
        auto launched = launch_command(command, nullptr, false);
        EXPECT_TRUE(launched) << launched.error().message;
        if (!launched)
            return 0xFFFFFFFF;
        return wait_for_exit(std::move(*launched)).value_or(0xFFFFFFFF);
    }
    static std::vector<std::string> probe(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         testing::windows_form(testing::test_program("process_probe")));
        return arguments;
    }
};

TEST_F(CommandLaunch, CommandRunsAndItsExitCodeIsRead) {
    for (const char* code : {"0", "3", "3221225477"}) {
        auto launched = launch_command(spec(probe({"exit", code})), nullptr, false);
        ASSERT_TRUE(launched) << launched.error().message;
        EXPECT_NE(launched->process_id(), 0u);
        auto exit_code = wait_for_exit(std::move(*launched));
        ASSERT_TRUE(exit_code) << exit_code.error().message;
        EXPECT_EQ(*exit_code, std::stoul(code));
    }
}

TEST_F(CommandLaunch, StandardInputIsAtEndOfFileAndOutputReachesTheReadEnds) {
    auto launched = launch_command(
        spec({"/bin/sh", "-c", "cat; echo out; echo err >&2; echo \"$PWD|$WINSIM_DESKTOP\""}),
        nullptr, false);
    ASSERT_TRUE(launched) << launched.error().message;
    UniqueHandle output = launched->take_stdout();
    UniqueHandle error = launched->take_stderr();
    auto exit_code = wait_for_exit(std::move(*launched));
    ASSERT_TRUE(exit_code);
    EXPECT_EQ(*exit_code, 0u);
    const std::string text = read_all(output.get());
    ASSERT_EQ(text.rfind("out\n/tmp|WinSta0\\QuarvelProtectedDesktop-", 0), 0u) << text;
    EXPECT_EQ(text.size(), std::string("out\n/tmp|WinSta0\\QuarvelProtectedDesktop-").size() + 33);
    EXPECT_EQ(read_all(error.get()), "err\n");
}

TEST_F(CommandLaunch, ReleasingTheCommandEndsWhatItLeftRunning) {
    auto launched = launch_command(spec({"/bin/sh", "-c", "sleep 60 & echo $!"}), nullptr, false);
    ASSERT_TRUE(launched);
    UniqueHandle output = launched->take_stdout();
    UniqueHandle error = launched->take_stderr();
    auto exit_code = wait_for_exit(std::move(*launched));
    ASSERT_TRUE(exit_code);
    // End of file arrives only once the background process that shares the pipe is gone.
    const pid_t background = static_cast<pid_t>(std::stol(read_all(output.get())));
    EXPECT_TRUE(testing::wait_until_ended(background, 30000));
}

TEST_F(CommandLaunch, AnotherRunsCommandCannotOpenThisRunsCommandButItsWorkerAndItsOwnSidsCan) {
    winsim::ensure_local_user(kAccount, "Secret-1!");
    const auto administrator = winsim::administrator_token_json(true);
    winsim::set_process_token_json(winsim::account_token_json(kAccount));  // this run's worker
    auto first = launch_command(spec(probe({"sleep", "60000"})), nullptr, false);
    ASSERT_TRUE(first) << first.error().message;
    const std::string pid = std::to_string(first->process_id());
    const std::string all_access = "1fffff";
    // A process with the command's own SIDs (same run) may do anything to it.
    EXPECT_EQ(exit_code_of(spec(probe({"open-process", pid, all_access}))), 0u);
    // The worker keeps what it needs through its logon session.
    UniqueHandle opened(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                    first->process_id()));
    ASSERT_TRUE(opened);
    EXPECT_EQ(WaitForSingleObject(opened.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Another run of the same account: a new sign-in and its own capability SID. Everyone is
    // one of its restricting SIDs too; none of them may change the first run's command.
    winsim::set_process_token_json(winsim::account_token_json(kAccount));
    for (const char* access : {"1fffff", "1", "20", "40000"})
        EXPECT_EQ(exit_code_of(spec(probe({"open-process", pid, access}), kOtherRunsCapability)),
                  static_cast<DWORD>(ERROR_ACCESS_DENIED))
            << access;
    winsim::set_process_token_json(administrator);

    ASSERT_TRUE(TerminateProcess(opened.get(), 7));
    DWORD code = 0;
    EXPECT_EQ(WaitForSingleObject(opened.get(), 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(opened.get(), &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(wait_for_exit(std::move(*first)).value_or(0), 7u);
}

TEST_F(CommandLaunch, TheCommandInheritsNoHandleOfTheWorkerButItsOwnThreeStreams) {
    // What the worker was given as standard handles may well be inheritable.
    std::vector<std::string> standard;
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = GetStdHandle(which);
        ASSERT_TRUE(SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT));
        standard.push_back(std::to_string(reinterpret_cast<std::uintptr_t>(handle)));
    }
    auto launched = launch_command(spec(probe({"list-handles"})), nullptr, false);
    ASSERT_TRUE(launched) << launched.error().message;
    UniqueHandle output = launched->take_stdout();
    EXPECT_TRUE(wait_for_exit(std::move(*launched)));
    std::vector<std::string> inherited;
    std::istringstream lines(read_all(output.get()));
    for (std::string line; std::getline(lines, line);)
        inherited.push_back(line);
    // Standard input, output and error of the command, and nothing else.
    EXPECT_EQ(inherited.size(), 3u);
    for (const auto& value : standard)
        EXPECT_EQ(std::find(inherited.begin(), inherited.end(), value), inherited.end()) << value;
}

TEST_F(CommandLaunch, TraceWritesTheSixLaunchStagesInOrder) {
    auto [reader, writer] = testing::anonymous_pipe(1 << 16);
    ASSERT_TRUE(reader);
    auto launched = launch_command(spec(probe({"exit", "0"})), writer.get(), true);
    ASSERT_TRUE(launched);
    writer.reset();
    std::vector<std::string> stages;
    while (auto frame = read_message<WorkerFrame>(reader.get()))
        stages.push_back(std::get<frame::Progress>(*frame).stage);
    EXPECT_EQ(stages, (std::vector<std::string>{"restricted_token_ready", "private_desktop_ready",
                                                "stdio_ready", "command_created",
                                                "command_job_assigned", "command_resumed"}));
    EXPECT_TRUE(wait_for_exit(std::move(*launched)));
}

TEST_F(CommandLaunch, MissingProgramFailsWithWindowsErrorTwoAndLeavesNothing) {
    auto launched = launch_command(spec({testing::windows_form("/tmp/quarvel-no-such-program")}),
                                   nullptr, false);
    ASSERT_FALSE(launched);
    EXPECT_EQ(launched.error(),
              fixed_failure("process_create_failed",
                            "Could not create suspended protected command. Windows error 2.", 70));
}

TEST_F(CommandLaunch, EmptyCommandIsAnInvalidRequest) {
    auto launched = launch_command(spec({""}), nullptr, false);
    ASSERT_FALSE(launched);
    EXPECT_EQ(launched.error(), fixed_failure("invalid_request", "Command is empty.", 64));
}

TEST_F(CommandLaunch, EveryFailureAfterTheProcessExistsEndsItBeforeItRuns) {
    using winsim::FaultKind;
    const testing::FaultRow rows[] = {
        {"CreatePipe", 2, 8, FaultKind::fail, "stdio_pipe_failed",
         "Could not create protected command output channel. Windows error 8."},
        {"SetHandleInformation", 3, 6, FaultKind::fail, "stdio_pipe_failed",
         "Could not secure protected command output handle. Windows error 6."},
        // The worker's own standard input.
        {"SetHandleInformation", 4, 6, FaultKind::fail, "stdio_pipe_failed",
         "Could not secure protected command output handle. Windows error 6."},
        {"CreateProcessAsUserW", 1, 5, FaultKind::fail, "process_create_failed",
         "Could not create suspended protected command. Windows error 5."},
        {"CreateProcessAsUserW", 1, 1, FaultKind::quirk, "process_create_failed",
         "Could not open protected command process. Windows error "},
        {"CreateProcessAsUserW", 1, 2, FaultKind::quirk, "process_create_failed",
         "Could not open protected command thread. Windows error "},
        {"CreateJobObjectW", 1, 8, FaultKind::fail, "job_create_failed",
         "Could not create process job. Windows error 8."},
        {"SetInformationJobObject", 1, 5, FaultKind::fail, "job_configuration_failed",
         "Could not secure process job. Windows error 5."},
        {"AssignProcessToJobObject", 1, 5, FaultKind::fail, "job_assignment_failed",
         "Could not attach suspended process to its secured job. Windows error 5."},
        {"ResumeThread", 1, 6, FaultKind::fail, "process_resume_failed",
         "Could not resume protected command after job assignment. Windows error 6."},
    };
    const std::string marker = machine_ + "/ran";
    for (const auto& row : rows) {
        testing::arm(row);
        auto launched =
            launch_command(spec({"/bin/sh", "-c", "touch '" + marker + "'"}), nullptr, false);
        ASSERT_FALSE(launched) << row.function;
        testing::expect_row_failure(launched.error(), row);
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << row.function;
        EXPECT_TRUE(testing::live_children().empty()) << row.function;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(nlohmann::json::parse(winsim::desktops_json()).size(), 0u) << row.function;
        EXPECT_FALSE(std::filesystem::exists(marker)) << row.function;
    }
}

TEST_F(CommandLaunch, ProgressThatCannotBeWrittenAfterCreationEndsTheProcess) {
    // The fourth progress write is command_created: the process exists by then.
    for (std::uint64_t stage = 1; stage <= 6; ++stage) {
        auto [reader, writer] = testing::anonymous_pipe(1 << 16);
        ASSERT_TRUE(reader) << stage;
        // Each frame takes two writes (length, body).
        winsim::inject_fault("WriteFile", 109, 2 * stage - 1);
        auto launched = launch_command(spec(probe({"sleep", "60000"})), writer.get(), true);
        ASSERT_FALSE(launched) << stage;
        EXPECT_EQ(launched.error().code, "ipc_write_failed") << stage;
        EXPECT_TRUE(testing::live_children().empty()) << stage;
        winsim::clear_faults();
    }
}

TEST_F(CommandLaunch, WaitFailuresReleaseTheCommand) {
    struct Row {
        const char* function;
        const char* code;
        const char* message;
    } rows[] = {
        {"WaitForSingleObject", "process_wait_failed",
         "Could not wait for protected command. Windows error 6."},
        {"GetExitCodeProcess", "process_status_failed",
         "Could not read protected command result. Windows error 6."},
    };
    for (const auto& row : rows) {
        auto launched = launch_command(spec(probe({"sleep", "60000"})), nullptr, false);
        ASSERT_TRUE(launched);
        const pid_t pid = static_cast<pid_t>(launched->process_id());
        if (std::string(row.function) == "GetExitCodeProcess") {
            // Let the wait succeed first: end the command from outside.
            winsim::inject_fault(row.function, 6);
            ::kill(pid, SIGKILL);
        } else {
            winsim::inject_fault(row.function, 6);
        }
        auto exit_code = wait_for_exit(std::move(*launched));
        ASSERT_FALSE(exit_code);
        EXPECT_EQ(exit_code.error(), fixed_failure(row.code, row.message, 70));
        EXPECT_TRUE(testing::wait_until_ended(pid, 30000));
    }
}

}  // namespace
}  // namespace quarvel
