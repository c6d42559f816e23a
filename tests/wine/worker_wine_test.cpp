// The worker's platform calls against Wine, a Win32 implementation nobody here wrote: the
// private desktop in WinSta0, the kill-on-close job, CreateProcessAsUserW with pipes and
// resume, and the worker's frames up to the first call that Wine does not implement.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "documents/worker_request.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "support/started_program.h"
#include "unit/pipe_client_process.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"
#include "windows/process/command_job.h"
#include "windows/process/output_pipe.h"
#include "windows/process/private_desktop.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"

namespace quarvel {
namespace {

using testing::read_all;

// Starts the probe program suspended, so that a test decides what happens before it runs.
testing::StartedProgram start_suspended_probe(const std::string& arguments) {
    auto started = testing::start_program(testing::wine_test_program("process_probe"), arguments,
                                          CREATE_SUSPENDED);
    EXPECT_TRUE(started.process) << arguments;
    return started;
}

OwnedSid logon_sid() {
    UniqueHandle token;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    auto groups = read_token_information(token.get(), TokenGroups, "test", "groups");
    EXPECT_TRUE(groups);
    const auto* list = groups->as<TOKEN_GROUPS>();
    for (DWORD k = 0; k < list->GroupCount; ++k)
        if (list->Groups[k].Attributes > 0xBFFFFFFF)
            return *copy_sid(list->Groups[k].Sid);
    ADD_FAILURE() << "no logon SID";
    return *sid_from_string("S-1-5-5-0-0");
}

TEST(WorkerUnderWine, PrivateDesktopIsCreatedInWinSta0) {
    const auto logon = logon_sid();
    auto desktop = create_private_desktop("00112233445566778899aabbccddeeff", "S-1-5-32-545",
                                          "S-1-5-21-1000-2000-3000-4000", logon.get());
    ASSERT_TRUE(desktop) << desktop.error().message;
    EXPECT_EQ(desktop->path,
              to_wide("WinSta0\\QuarvelProtectedDesktop-00112233445566778899aabbccddeeff"));
    EXPECT_TRUE(desktop->handle);
}

TEST(WorkerUnderWine, SuspendedProcessUnderAPrimaryTokenRunsWithPipesAfterJobAndResume) {
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(
        GetCurrentProcess(), TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY, token.put()));
    auto input = create_output_pipe();
    auto output = create_output_pipe();
    ASSERT_TRUE(input && output);
    ASSERT_TRUE(SetHandleInformation(input->write.get(), HANDLE_FLAG_INHERIT, 0));
    ASSERT_TRUE(SetHandleInformation(output->read.get(), HANDLE_FLAG_INHERIT, 0));
    const auto logon = logon_sid();
    auto desktop = create_private_desktop("ffeeddccbbaa99887766554433221100", "S-1-5-32-545",
                                          "S-1-5-21-1000-2000-3000-4000", logon.get());
    ASSERT_TRUE(desktop) << desktop.error().message;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop->path.data();
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input->read.get();
    startup.hStdOutput = output->write.get();
    startup.hStdError = output->write.get();
    WideString line = to_wide("\"" + testing::wine_test_program("process_probe") + "\" copy-input");
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessAsUserW(token.get(), nullptr, line.data(), nullptr, nullptr, TRUE,
                                     CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr,
                                     nullptr, &startup, &created))
        << GetLastError();
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    input->read.reset();
    output->write.reset();
    auto job = create_command_job();
    ASSERT_TRUE(job) << job.error().message;
    ASSERT_TRUE(assign_to_job(job->get(), process.get()));
    ASSERT_EQ(ResumeThread(thread.get()), 1u);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(input->write.get(), "through", 7, &written, nullptr));
    input->write.reset();
    EXPECT_EQ(read_all(output->read.get()), "through");
    EXPECT_EQ(testing::wait_for_exit_code(process.get()), 0u);
}

TEST(WorkerUnderWine, ClosingTheKillOnCloseJobEndsItsProcess) {
    auto [process, thread] = start_suspended_probe("sleep 60000");
    ASSERT_TRUE(process);
    auto job = create_command_job();
    ASSERT_TRUE(job);
    ASSERT_TRUE(assign_to_job(job->get(), process.get()));
    ResumeThread(thread.get());
    EXPECT_EQ(WaitForSingleObject(process.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
    job->reset();
    EXPECT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
}

TEST(WorkerUnderWine, FailedLaunchTerminatesTheSuspendedProcessWith125) {
    auto [process, thread] = start_suspended_probe("exit 0");
    ASSERT_TRUE(process);
    terminate_and_wait(process.get());
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(process.get(), &code));
    EXPECT_EQ(code, 125u);
}

// The worker as a separate process: it serves the request until a call that Wine does not
// implement stops it, and says so in a Failed frame rather than dying silently.
TEST(WorkerUnderWine, WorkerSendsItsFramesUpToTheFirstMissingCall) {
    const std::string user = testing::current_user_sid();
    auto pipe = create_protected_pipe(user, user);
    ASSERT_TRUE(pipe) << pipe.error().message;
    const auto worker = testing::start_program(
        testing::wine_test_program("quarvel-sandbox-windows"), "__worker --pipe " + pipe->name);
    ASSERT_TRUE(worker.process);
    ASSERT_TRUE(accept_worker(pipe->handle.get(), worker.process.get()));

    WorkerRequest request;
    request.policy.cwd = to_wide("C:\\windows");
    request.policy.runtime_dir = to_wide("C:\\windows");
    request.policy.status_file = to_wide("C:\\windows\\status.json");
    request.command = {testing::wine_test_program("process_probe"), "exit", "0"};
    request.account_sid = user;
    request.base_sid = "S-1-1-0";
    request.capability_sid = "S-1-5-21-1000-2000-3000-4000";
    request.trace = true;
    auto body = write_worker_request(request);
    ASSERT_TRUE(body);
    ASSERT_TRUE(write_message_body(pipe->handle.get(), *body));
    std::vector<WorkerFrame> frames;
    while (auto frame = read_message<WorkerFrame>(pipe->handle.get())) {
        frames.push_back(*frame);
        if (is_terminal(frames.back()))
            break;
    }
    ASSERT_GE(frames.size(), 4u);
    const char* stages[] = {"request_received", "request_validated", "identity_verified"};
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_EQ(frames[k], WorkerFrame(frame::Progress{stages[k]})) << k;
    ASSERT_TRUE(is_terminal(frames.back()));
    if (const auto* failed = std::get_if<frame::Failed>(&frames.back()))
        std::printf("worker under Wine ended with %s: %s\n", failed->code.c_str(),
                    failed->message.c_str());
    EXPECT_NE(testing::wait_for_exit_code(worker.process.get()), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace quarvel
