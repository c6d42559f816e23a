// How the self-test runs the main program on the simulated host: output collected, error
// lines with their arrival, a program held until its id has been handed on, one abandoned
// being ended, and every platform failure on the way with nothing left behind.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "selftest/program_run.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"

namespace quarvel::selftest {
namespace {

class SelfTestProgramRun : public testing::LeakCheckedTest {
  protected:
    static std::vector<std::string> command(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), testing::test_program("sandboxed_command"));
        return arguments;
    }
};

TEST_F(SelfTestProgramRun, OutputErrorLinesAndExitCodeComeBack) {
    auto outcome = run_program(command({"streams", "to output", "one\ntwo\r\nthree", "3"}));
    ASSERT_TRUE(outcome) << outcome.error().message;
    EXPECT_EQ(outcome->exit_code, 3u);
    EXPECT_EQ(outcome->standard_output, "to output");
    ASSERT_EQ(outcome->error_lines.size(), 3u);
    EXPECT_EQ(outcome->error_lines[0].text, "one");
    EXPECT_EQ(outcome->error_lines[1].text, "two");
    EXPECT_EQ(outcome->error_lines[2].text, "three");
    // Lines are stamped as they arrive: in order, and none before the program started.
    EXPECT_LE(outcome->started, outcome->error_lines[0].at);
    EXPECT_LE(outcome->error_lines[0].at, outcome->error_lines[2].at);
}

TEST_F(SelfTestProgramRun, HeldProgramRunsOnlyOnceReleased) {
    auto program = RunningProgram::start(command({"streams", "out", "", "0"}), true);
    ASSERT_TRUE(program) << program.error().message;
    EXPECT_NE(program->process_id(), 0u);
    Sleep(100);
    EXPECT_TRUE(program->running());
    auto outcome = program->finish();
    ASSERT_TRUE(outcome) << outcome.error().message;
    EXPECT_EQ(outcome->standard_output, "out");
    EXPECT_FALSE(program->running());
}

TEST_F(SelfTestProgramRun, ProgramNeverFinishedIsEndedWhenLetGo) {
    std::uint32_t pid = 0;
    {
        auto program = RunningProgram::start(command({"wait-for", "C:\\never", "0"}));
        ASSERT_TRUE(program) << program.error().message;
        pid = program->process_id();
        EXPECT_TRUE(program->running());
    }
    EXPECT_TRUE(testing::process_has_ended(static_cast<pid_t>(pid)));
}

TEST_F(SelfTestProgramRun, EveryPlatformFailureIsReportedAndNothingIsLeftRunning) {
    const struct {
        const char* function;
        std::uint64_t nth;
        std::uint32_t value;
        bool held;
        const char* message;
    } rows[] = {
        {"CreatePipe", 1, 8, false, "Could not create a pipe for a program. Windows error 8."},
        {"CreatePipe", 3, 8, false, "Could not create a pipe for a program. Windows error 8."},
        {"SetHandleInformation", 2, 6, false,
         "Could not keep a pipe end to itself. Windows error 6."},
        {"CreateProcessW", 1, 2, false, "Could not start "},
        {"ResumeThread", 1, 5, true, "Could not let a program run. Windows error 5."},
        {"WaitForSingleObject", 1, 6, false, "Could not wait for a program. Windows error 6."},
        {"GetExitCodeProcess", 1, 5, false, "Could not read a program's exit code."},
    };
    for (const auto& row : rows) {
        const auto before = testing::live_children();
        winsim::inject_fault(row.function, row.value, row.nth);
        {
            auto program = RunningProgram::start(command({"streams", "", "", "0"}), row.held);
            auto outcome = program ? program->finish()
                                   : Result<ProgramOutcome>(std::unexpected(program.error()));
            ASSERT_FALSE(outcome) << row.function;
            EXPECT_EQ(outcome.error().code, "selftest_run_failed") << row.function;
            EXPECT_EQ(outcome.error().message.rfind(row.message, 0), 0u) << outcome.error().message;
            EXPECT_EQ(winsim::pending_fault_count(), 0u) << row.function;
        }
        EXPECT_EQ(testing::live_children(), before) << row.function;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
    }
}

}  // namespace
}  // namespace quarvel::selftest
