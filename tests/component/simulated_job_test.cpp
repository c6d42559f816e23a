// Simulated job objects: kill-on-close ends the members, what they started through the
// simulated host and what they started on their own; other processes are left alone. A job
// ends with the last process that holds it, however that process ends.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <csignal>
#include <string>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/anonymous_pipe.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"

namespace quarvel {
namespace {

using testing::test_program;
using testing::windows_form;

struct Child {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD pid = 0;
    UniqueHandle output;  // read end of its standard output
};

Child start_child(const std::string& command_line, DWORD flags = 0) {
    auto [read_end, write_end] = testing::anonymous_pipe(0, true);
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end.get();
    WideString line = to_wide(command_line);
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                               nullptr, &startup, &info))
        << GetLastError();
    return {UniqueHandle(info.hProcess), UniqueHandle(info.hThread), info.dwProcessId,
            std::move(read_end)};
}

// Reads one line of decimal digits the child printed.
pid_t read_pid(HANDLE output) {
    std::string text;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(output, &c, 1, &got, nullptr) && got == 1 && c != '\n')
        text += c;
    return static_cast<pid_t>(std::stol(text));
}

UniqueHandle kill_on_close_job(DWORD more_limits = 0) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    EXPECT_TRUE(job);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | more_limits;
    EXPECT_TRUE(SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                        sizeof limits));
    return job;
}

std::string probe(const std::string& arguments) {
    // Appended, not prefixed with operator+ (a -Wrestrict false positive of GCC 12 at -O3).
    std::string line = "\"";
    line += windows_form(test_program("process_probe"));
    line += "\" ";
    line += arguments;
    return line;
}

class SimulatedJob : public testing::LeakCheckedTest {};

TEST_F(SimulatedJob, ClosingAKillOnCloseJobEndsMembersAndEverythingTheyStarted) {
    auto job = kill_on_close_job();
    // A shell that starts a background process of its own and a process through the
    // simulated host, prints both ids and stays.
    auto shell = start_child("/bin/sh -c \"sleep 60 & echo $!; '" + test_program("process_probe") +
                                 "' spawn-sleeper 60000; echo; sleep 60\"",
                             CREATE_SUSPENDED);
    ASSERT_TRUE(AssignProcessToJobObject(job.get(), shell.process.get()));
    ASSERT_EQ(ResumeThread(shell.thread.get()), 1u);
    const pid_t background = read_pid(shell.output.get());
    const pid_t spawned = read_pid(shell.output.get());
    auto outsider = start_child(probe("sleep 60000"));

    EXPECT_FALSE(testing::process_has_ended(background));
    EXPECT_FALSE(testing::process_has_ended(spawned));
    job.reset();

    EXPECT_EQ(WaitForSingleObject(shell.process.get(), 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(testing::wait_until_ended(background, 30000));
    EXPECT_TRUE(testing::wait_until_ended(spawned, 30000));
    EXPECT_EQ(WaitForSingleObject(outsider.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(nlohmann::json::parse(winsim::jobs_json())["jobs"].size(), 0u);
    TerminateProcess(outsider.process.get(), 1);
    WaitForSingleObject(outsider.process.get(), INFINITE);
}

TEST_F(SimulatedJob, ChildrenLeaveTheJobOnlyWhereItsLimitsLetThem) {
    enum class Outcome { refused, in_the_job, outside };
    const struct {
        DWORD limits;
        const char* breakaway;
        Outcome outcome;
    } rows[] = {
        {0, "", Outcome::in_the_job},
        {0, "breakaway", Outcome::refused},
        {JOB_OBJECT_LIMIT_BREAKAWAY_OK, "", Outcome::in_the_job},
        {JOB_OBJECT_LIMIT_BREAKAWAY_OK, "breakaway", Outcome::outside},
        {JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK, "", Outcome::outside},
    };
    for (const auto& row : rows) {
        auto job = kill_on_close_job(row.limits);
        auto member = start_child(probe(std::string("spawn-sleeper 60000 ") + row.breakaway),
                                  CREATE_SUSPENDED);
        ASSERT_TRUE(AssignProcessToJobObject(job.get(), member.process.get()));
        ASSERT_EQ(ResumeThread(member.thread.get()), 1u);
        ASSERT_EQ(WaitForSingleObject(member.process.get(), 30000), WAIT_OBJECT_0);
        DWORD code = 0;
        ASSERT_TRUE(GetExitCodeProcess(member.process.get(), &code));
        if (row.outcome == Outcome::refused) {
            EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << row.limits;
            continue;
        }
        ASSERT_EQ(code, 0u) << row.limits << " " << row.breakaway;
        const pid_t sleeper = read_pid(member.output.get());
        job.reset();
        if (row.outcome == Outcome::in_the_job) {
            EXPECT_TRUE(testing::wait_until_ended(sleeper, 30000)) << row.limits;
        } else {
            EXPECT_FALSE(testing::wait_until_ended(sleeper, 300)) << row.limits;
            ::kill(sleeper, SIGKILL);
        }
    }
}

TEST_F(SimulatedJob, AHolderThatEndsInAnyWayTakesItsKillOnCloseJobAndItsMembersWithIt) {
    // hold-job: a probe that puts a sleeper in a kill-on-close job and never closes the job.
    enum class End { killed, terminated, exit_process, returned };
    const struct {
        const char* argument;
        End end;
    } rows[] = {{"wait", End::killed},
                {"wait", End::terminated},
                {"exit", End::exit_process},
                {"return", End::returned}};
    for (const auto& row : rows) {
        auto holder = start_child(probe(std::string("hold-job ") + row.argument));
        const pid_t member = read_pid(holder.output.get());
        if (row.end == End::killed) {
            ::kill(static_cast<pid_t>(holder.pid), SIGKILL);
        } else if (row.end == End::terminated) {
            EXPECT_TRUE(TerminateProcess(holder.process.get(), 9));
        }
        EXPECT_EQ(WaitForSingleObject(holder.process.get(), 30000), WAIT_OBJECT_0);
        EXPECT_TRUE(testing::wait_until_ended(member, 30000)) << row.argument;
        EXPECT_EQ(nlohmann::json::parse(winsim::jobs_json())["jobs"].size(), 0u) << row.argument;
    }
}

TEST_F(SimulatedJob, AJobLivesAsLongAsAProcessHoldsIt) {
    auto holder = start_child(probe("hold-job wait"));
    const pid_t member = read_pid(holder.output.get());
    EXPECT_EQ(WaitForSingleObject(holder.process.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(testing::process_has_ended(member));
    const auto jobs = nlohmann::json::parse(winsim::jobs_json())["jobs"];
    ASSERT_EQ(jobs.size(), 1u);
    const auto& holders = jobs.begin().value()["holders"];
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0]["pid"].get<DWORD>(), holder.pid);

    TerminateProcess(holder.process.get(), 1);
    EXPECT_TRUE(testing::wait_until_ended(member, 30000));
}

TEST_F(SimulatedJob, TheWatcherOfAJobHolderLeavesWhenTheLastJobIsClosed) {
    auto first = kill_on_close_job();
    auto second = kill_on_close_job();
    // One watcher for this process, whatever the number of jobs it holds.
    EXPECT_EQ(testing::live_children().size(), 1u);
    first.reset();
    EXPECT_EQ(testing::live_children().size(), 1u);
    second.reset();
    EXPECT_TRUE(testing::live_children().empty());
}

TEST_F(SimulatedJob, JobWithoutKillOnCloseLeavesItsMembersRunning) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    auto member = start_child(probe("sleep 60000"), CREATE_SUSPENDED);
    ASSERT_TRUE(AssignProcessToJobObject(job.get(), member.process.get()));
    ResumeThread(member.thread.get());
    job.reset();
    EXPECT_EQ(WaitForSingleObject(member.process.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(member.process.get(), 1);
    WaitForSingleObject(member.process.get(), INFINITE);
}

TEST_F(SimulatedJob, MembershipIsRecordedForTheMachine) {
    auto job = kill_on_close_job();
    auto member = start_child(probe("sleep 60000"), CREATE_SUSPENDED);
    ASSERT_TRUE(AssignProcessToJobObject(job.get(), member.process.get()));
    const auto jobs = nlohmann::json::parse(winsim::jobs_json())["jobs"];
    ASSERT_EQ(jobs.size(), 1u);
    const auto& record = jobs.begin().value();
    EXPECT_TRUE(record["kill_on_close"].get<bool>());
    ASSERT_EQ(record["members"].size(), 1u);
    EXPECT_EQ(record["members"][0]["pid"].get<DWORD>(), member.pid);
    job.reset();
    EXPECT_EQ(WaitForSingleObject(member.process.get(), 30000), WAIT_OBJECT_0);
}

TEST_F(SimulatedJob, RejectsWhatWindowsRejects) {
    auto job = kill_on_close_job();
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    EXPECT_FALSE(
        SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, 64));
    EXPECT_EQ(GetLastError(), 24u);  // ERROR_BAD_LENGTH
    EXPECT_EQ(CreateJobObjectW(nullptr, WIDE("named")), nullptr);

    auto ended = start_child(probe("exit 0"));
    ASSERT_EQ(WaitForSingleObject(ended.process.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_FALSE(AssignProcessToJobObject(job.get(), ended.process.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(AssignProcessToJobObject(job.get(), job.get()));
}

TEST_F(SimulatedJob, InjectedFailuresReachEveryJobCall) {
    winsim::inject_fault("CreateJobObjectW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(CreateJobObjectW(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    winsim::inject_fault("CreateJobObjectW", 0, 1, winsim::FaultKind::quirk);
    EXPECT_EQ(CreateJobObjectW(nullptr, nullptr), nullptr);

    auto job = kill_on_close_job();
    winsim::inject_fault("SetInformationJobObject", ERROR_ACCESS_DENIED);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    EXPECT_FALSE(SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                         sizeof limits));
    auto member = start_child(probe("exit 0"), CREATE_SUSPENDED);
    winsim::inject_fault("AssignProcessToJobObject", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(AssignProcessToJobObject(job.get(), member.process.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    TerminateProcess(member.process.get(), 125);
    WaitForSingleObject(member.process.get(), INFINITE);
}

}  // namespace
}  // namespace quarvel
