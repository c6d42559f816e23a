// The runner's bounded wait for its worker, on any process in a kill-on-close job: how each end
// is judged, and that both handles are closed and nothing runs on afterwards.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/started_program.h"
#include "windows/process/command_job.h"
#include "windows/runner/worker_launch.h"

namespace quarvel {
namespace {

using namespace std::chrono_literals;

class WorkerSupervision : public testing::LeakCheckedTest {
  protected:
    // The test command in a kill-on-close job, running.
    LaunchedWorker start(const std::string& arguments) {
        auto started = testing::start_program(testing::test_program("sandboxed_command"),
                                              arguments, CREATE_SUSPENDED);
        EXPECT_TRUE(started.process) << arguments;
        LaunchedWorker worker{std::move(started.process), create_command_job().value()};
        EXPECT_TRUE(assign_to_job(worker.job.get(), worker.process.get()));
        EXPECT_NE(ResumeThread(started.thread.get()), static_cast<DWORD>(-1));
        pid_ = static_cast<pid_t>(GetProcessId(worker.process.get()));
        return worker;
    }
    pid_t pid_ = 0;
};

TEST_F(WorkerSupervision, EachEndOfTheWorkerIsJudged) {
    EXPECT_TRUE(wait_worker(start("streams \"\" \"\" 0")));
    EXPECT_EQ(wait_worker(start("streams \"\" \"\" 3221225477")).error(),
              fixed_failure("worker_exit_failed",
                            "Protected command worker exited with code 3221225477.", 70));
    EXPECT_EQ(wait_worker(start("wait-for C:\\never 0"), 50ms).error(),
              fixed_failure("worker_exit_failed",
                            "Protected command worker did not exit after reporting completion.",
                            70));
    // Closing the job ended the worker that would not end.
    EXPECT_TRUE(testing::wait_until_ended(pid_, 30000));
}

TEST_F(WorkerSupervision, FailingCallsAreReportedWithTheirWindowsError) {
    winsim::inject_fault("WaitForSingleObject@Process", 6);
    EXPECT_EQ(wait_worker(start("wait-for C:\\never 0")).error(),
              fixed_failure("worker_exit_failed",
                            "Could not wait for protected command worker. Windows error 6.", 70));
    EXPECT_TRUE(testing::wait_until_ended(pid_, 30000));
    winsim::inject_fault("GetExitCodeProcess", 5);
    EXPECT_EQ(wait_worker(start("streams \"\" \"\" 0")).error(),
              fixed_failure("worker_exit_failed",
                            "Could not read protected command worker result. Windows error 5.", 70));
}

TEST_F(WorkerSupervision, TerminatedWorkerEndsWith125) {
    auto worker = start("wait-for C:\\never 0");
    terminate_worker(worker.process.get());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(worker.process.get(), &code));
    EXPECT_EQ(code, 125u);
}

}  // namespace
}  // namespace quarvel
