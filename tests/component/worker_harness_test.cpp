// The worker end to end on the host lane: the test plays the runner. It creates the protected
// pipe, starts `__worker --pipe <name>` as a protected account of a fresh simulated machine,
// sends one request and reads every frame up to the terminal one.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "documents/worker_request.h"
#include "platform/wide_text.h"
#include "support/host_process.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"

namespace quarvel {
namespace {

constexpr const char* kAccount = "QuarvelSandboxOnline";
constexpr const char* kGroupName = "QuarvelSandboxUsers";
constexpr const char* kCapability = "S-1-5-21-1000-2000-3000-4000";

struct WorkerRun {
    std::vector<WorkerFrame> frames;
    DWORD worker_exit_code = 0;

    std::vector<std::string> stages() const {
        std::vector<std::string> names;
        for (const auto& frame : frames)
            if (const auto* progress = std::get_if<frame::Progress>(&frame))
                names.push_back(progress->stage);
        return names;
    }
    std::string output() const {
        std::string text;
        for (const auto& frame : frames)
            if (const auto* piece = std::get_if<frame::Stdout>(&frame))
                text += piece->data;
        return text;
    }
    const WorkerFrame& last() const { return frames.back(); }
};

std::string own_user_sid() {
    UniqueHandle token;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    auto user = read_token_information(token.get(), TokenUser, "test", "user");
    return sid_to_string(user->as<TOKEN_USER>()->User.Sid).value_or("");
}

class WorkerHarness : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_ = testing::use_fresh_machine();
        group_sid_ = winsim::ensure_local_group(kGroupName);
        account_sid_ = winsim::ensure_local_user(kAccount, "Secret-1!");
        winsim::add_local_group_member(kGroupName, account_sid_);
        work_ = machine_ + "/work";
        std::filesystem::create_directories(work_);
    }
    void TearDown() override {
        EXPECT_EQ(nlohmann::json::parse(winsim::desktops_json()).size(), 0u);
        EXPECT_TRUE(testing::live_children().empty());
    }

    WorkerRequest request(std::vector<std::string> command, bool trace = false) const {
        WorkerRequest request;
        request.policy.cwd = to_wide(testing::windows_form(work_));
        request.policy.runtime_dir = to_wide(testing::windows_form(work_));
        request.policy.status_file = to_wide(testing::windows_form(work_ + "/status.json"));
        request.command = std::move(command);
        request.account_sid = account_sid_;
        request.base_sid = group_sid_;
        request.capability_sid = kCapability;
        request.trace = trace;
        return request;
    }

    static std::vector<std::string> probe(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         testing::windows_form(testing::test_program("process_probe")));
        return arguments;
    }

    // Starts the worker as the protected account (with `faults` armed in it), sends the
    // request, collects the frames and the worker's exit code.
    WorkerRun run(const WorkerRequest& request, const std::string& faults = "",
                  const std::string& account = kAccount) {
        return run_sending(
            [&](HANDLE pipe) {
                auto body = write_worker_request(request);
                EXPECT_TRUE(body);
                EXPECT_TRUE(write_message_body(pipe, *body));
            },
            faults, account);
    }

    // The same with whatever `send` writes on the channel in place of the request.
    WorkerRun run_sending(const std::function<void(HANDLE)>& send, const std::string& faults = "",
                          const std::string& account = kAccount) {
        auto pipe = create_protected_pipe(own_user_sid(), account_sid_);
        EXPECT_TRUE(pipe) << pipe.error().message;
        UniqueHandle token(winsim::create_token_handle(winsim::account_token_json(account)));
        WideString line =
            to_wide("\"" + testing::windows_form(QUARVEL_EXE) + "\" __worker --pipe " + pipe->name);
        std::u16string environment;
        for (char** entry = environ; *entry != nullptr; ++entry)
            environment += to_wide(*entry) + u'\0';
        if (!faults.empty())
            environment += to_wide("WINSIM_FAULTS=" + faults) + u'\0';
        environment += u'\0';
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        EXPECT_TRUE(CreateProcessAsUserW(token.get(), nullptr, line.data(), nullptr, nullptr, FALSE,
                                         CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT,
                                         environment.data(), nullptr, &startup, &created));
        UniqueHandle worker(created.hProcess);
        UniqueHandle thread(created.hThread);
        ResumeThread(thread.get());
        WorkerRun run;
        auto accepted = accept_worker(pipe->handle.get(), worker.get());
        EXPECT_TRUE(accepted) << accepted.error().message;
        if (accepted) {
            send(pipe->handle.get());
            while (auto frame = read_message<WorkerFrame>(pipe->handle.get())) {
                run.frames.push_back(std::move(*frame));
                if (is_terminal(run.frames.back()))
                    break;
            }
        }
        EXPECT_EQ(WaitForSingleObject(worker.get(), 30000), WAIT_OBJECT_0);
        GetExitCodeProcess(worker.get(), &run.worker_exit_code);
        return run;
    }

    std::string machine_;
    std::string work_;
    std::string group_sid_;
    std::string account_sid_;
};

const std::vector<std::string> kAllStages = {
    "request_received",       "request_validated",     "identity_verified",
    "restricted_token_ready", "private_desktop_ready", "stdio_ready",
    "command_created",        "command_job_assigned",  "command_resumed"};

TEST_F(WorkerHarness, WithoutTraceTheFramesAreStartedOutputAndExited) {
    auto result = run(request({"/bin/sh", "-c", "echo hello; exit 3"}));
    ASSERT_FALSE(result.frames.empty());
    EXPECT_TRUE(result.stages().empty());
    std::size_t started = 0;
    for (const auto& frame : result.frames)
        started += std::holds_alternative<frame::Started>(frame);
    EXPECT_EQ(started, 1u);
    EXPECT_EQ(result.output(), "hello\n");
    EXPECT_EQ(result.last(), WorkerFrame(frame::Exited{3}));
    EXPECT_EQ(result.worker_exit_code, 0u);
}

TEST_F(WorkerHarness, WithTraceTheNineStagesComeInOrderBeforeStarted) {
    auto result = run(request(probe({"exit", "3221225477"}), true));
    ASSERT_GE(result.frames.size(), 11u);
    for (std::size_t k = 0; k < kAllStages.size(); ++k)
        EXPECT_EQ(result.frames[k], WorkerFrame(frame::Progress{kAllStages[k]})) << k;
    EXPECT_TRUE(std::holds_alternative<frame::Started>(result.frames[9]));
    EXPECT_EQ(result.last(), WorkerFrame(frame::Exited{static_cast<std::int32_t>(0xC0000005u)}));
    EXPECT_EQ(result.worker_exit_code, 0u);
}

TEST_F(WorkerHarness, RequestThatFailsValidationIsReportedAfterItWasReceived) {
    auto invalid = request({"/bin/true"}, true);
    invalid.version = 2;
    auto result = run(invalid);
    ASSERT_EQ(result.frames.size(), 2u);
    EXPECT_EQ(result.frames[0], WorkerFrame(frame::Progress{"request_received"}));
    EXPECT_EQ(result.frames[1], WorkerFrame(frame::Failed{
                                    "invalid_request", "Unsupported worker protocol version: 2."}));
    EXPECT_EQ(result.worker_exit_code, 64u);
}

TEST_F(WorkerHarness, RequestThatCannotBeReadWholeClosesTheChannelWithoutAFrameOrAHang) {
    // The body's read fails while the runner is still in its flush, waiting for the worker to
    // take the body: a frame written now would wait in the worker's own flush for ever.
    // The worker goes without reading the body, so the runner's write may end either way,
    // depending on whether the worker is gone before the flush: only the worker is judged here.
    const auto body = write_worker_request(request({"/bin/true"}, true));
    ASSERT_TRUE(body);
    auto result = run_sending([&](HANDLE pipe) { (void)write_message_body(pipe, *body); },
                              "ReadFile@Pipe:2:1450");
    EXPECT_TRUE(result.frames.empty());
    EXPECT_EQ(result.worker_exit_code, 70u);
}

// A length of zero leaves nothing unread: the refusal is reported. A length over the limit
// announces a body the runner is still sending: a frame could only wait for a reader that is
// still writing, so the worker says nothing and goes.
TEST_F(WorkerHarness, RefusedLengthIsReportedOnlyWhenNoBodyIsPending) {
    const struct {
        std::uint32_t length;
        std::vector<WorkerFrame> frames;
    } rows[] = {
        {0, {frame::Failed{"invalid_request", "Protected command message length is invalid."}}},
        {kMaxMessageBytes + 1, {}},
    };
    for (const auto& row : rows) {
        const auto result = run_sending([&](HANDLE pipe) {
            const std::uint8_t prefix[4] = {static_cast<std::uint8_t>(row.length),
                                            static_cast<std::uint8_t>(row.length >> 8),
                                            static_cast<std::uint8_t>(row.length >> 16),
                                            static_cast<std::uint8_t>(row.length >> 24)};
            DWORD written = 0;
            EXPECT_TRUE(WriteFile(pipe, prefix, sizeof prefix, &written, nullptr));
            EXPECT_TRUE(FlushFileBuffers(pipe));
        });
        EXPECT_EQ(result.frames, row.frames) << row.length;
        EXPECT_EQ(result.worker_exit_code, 64u) << row.length;
    }
}

TEST_F(WorkerHarness, ExitedThatCannotBeFlushedEndsTheWorkerWithoutAFrameAfterIt) {
    // Started, then Exited: its flush fails after its bytes went out. The runner reads nothing
    // after Exited, so a Failed frame would wait in the worker's flush until the runner gives up.
    auto result = run(request({"/bin/true"}), "FlushFileBuffers@Pipe:2:232");
    EXPECT_EQ(result.last(), WorkerFrame(frame::Exited{0}));
    EXPECT_EQ(result.worker_exit_code, 70u);
}

TEST_F(WorkerHarness, WorkerOfAnotherAccountOrOutsideTheGroupRefusesToWork) {
    const std::string other_group = winsim::ensure_local_group("SomeOtherGroup");
    auto wrong_account = request({"/bin/true"});
    wrong_account.account_sid = winsim::ensure_local_user("SomebodyElse", "Secret-2!");
    auto outside_group = request({"/bin/true"});
    outside_group.base_sid = other_group;
    struct Case {
        WorkerRequest request;
        const char* message;
    } cases[] = {
        {wrong_account, "Protected command worker started under an unexpected account."},
        {outside_group, "Protected command worker is not in its required account group."},
    };
    for (const auto& c : cases) {
        auto result = run(c.request);
        ASSERT_EQ(result.frames.size(), 1u);
        EXPECT_EQ(result.last(), WorkerFrame(frame::Failed{"worker_identity_failed", c.message}));
        EXPECT_EQ(result.worker_exit_code, 70u);
    }
}

TEST_F(WorkerHarness, AccountSidWithALowerCaseSMatches) {
    auto lower = request({"/bin/true"});
    lower.account_sid[0] = 's';
    auto result = run(lower);
    EXPECT_EQ(result.last(), WorkerFrame(frame::Exited{0}));
}

TEST_F(WorkerHarness, MissingProgramFailsAndLeavesNothingRunning) {
    auto result = run(request({testing::windows_form(work_ + "/no-such-program")}));
    ASSERT_EQ(result.frames.size(), 1u);
    EXPECT_EQ(result.last(),
              WorkerFrame(
                  frame::Failed{"process_create_failed",
                                "Could not create suspended protected command. Windows error 2."}));
    EXPECT_EQ(result.worker_exit_code, 70u);
}

TEST_F(WorkerHarness, LaunchFailuresAfterTheProcessExistsLeaveNoProcessBehind) {
    const std::string marker = work_ + "/ran";
    const char* faults[] = {
        "CreateProcessAsUserW:1:1:quirk", "CreateProcessAsUserW:1:2:quirk", "CreateJobObjectW:1:8",
        "SetInformationJobObject:1:5",    "AssignProcessToJobObject:1:5",   "ResumeThread:1:6",
    };
    for (const char* fault : faults) {
        auto result = run(request({"/bin/sh", "-c", "touch '" + marker + "'; sleep 60"}), fault);
        ASSERT_FALSE(result.frames.empty()) << fault;
        EXPECT_TRUE(std::holds_alternative<frame::Failed>(result.last())) << fault;
        EXPECT_EQ(result.worker_exit_code, 70u) << fault;
        EXPECT_FALSE(std::filesystem::exists(marker)) << fault;
        const auto jobs = nlohmann::json::parse(winsim::jobs_json());
        EXPECT_TRUE(!jobs.contains("jobs") || jobs["jobs"].empty()) << fault << jobs.dump();
    }
}

TEST_F(WorkerHarness, CommandSeesEndOfInputAndBackgroundProcessesEndWithIt) {
    auto result = run(request({"/bin/sh", "-c",
                               "cat; echo $(sleep 60 >/dev/null 2>&1 & echo $!); "
                               "sleep 60 & echo done"}));
    ASSERT_EQ(result.last(), WorkerFrame(frame::Exited{0}));
    const std::string output = result.output();
    const auto newline = output.find('\n');
    ASSERT_NE(newline, std::string::npos) << output;
    EXPECT_EQ(output.substr(newline + 1), "done\n");
    EXPECT_TRUE(
        testing::wait_until_ended(static_cast<pid_t>(std::stol(output.substr(0, newline))), 30000));
}

TEST_F(WorkerHarness, OutputArrivesInBoundedFramesByteIdentical) {
    struct Case {
        const char* pattern;
        std::size_t minimum_frames;
        std::string expected;
    } cases[] = {
        {"large", 3, ""},
        {"straddle", 5, ""},
        {"invalid", 1, "f\xEF\xBF\xBDg"},
    };
    cases[0].expected.clear();
    while (cases[0].expected.size() < 20000)
        cases[0].expected += "0123456789abcdef\n";
    cases[0].expected.resize(20000);
    for (std::size_t boundary = 1; boundary <= 5; ++boundary) {
        const std::size_t before = (boundary - 1) % 3 + 1;
        cases[1].expected.append(boundary * 8192 - before - cases[1].expected.size(), 'x');
        cases[1].expected += "\xF0\x9F\x98\x80";
    }
    for (const auto& c : cases) {
        auto result = run(request(probe({"emit", c.pattern})));
        ASSERT_EQ(result.last(), WorkerFrame(frame::Exited{0})) << c.pattern;
        std::size_t frames = 0;
        for (const auto& frame : result.frames) {
            if (const auto* piece = std::get_if<frame::Stdout>(&frame)) {
                ++frames;
                EXPECT_GE(piece->data.size(), 1u);
                EXPECT_LE(piece->data.size(), 8192u);
            }
        }
        EXPECT_GE(frames, c.minimum_frames) << c.pattern;
        EXPECT_EQ(result.output(), c.expected) << c.pattern;
    }
}

TEST_F(WorkerHarness, CommandRunsRestrictedOnItsOwnDesktop) {
    auto result = run(request({"/bin/sh", "-c",
                               "echo \"$WINSIM_TOKEN\"; echo \"$WINSIM_DESKTOP\"; cat '" +
                                   machine_ + "/desktops.json' | tr -d '\\n'; echo"}));
    ASSERT_EQ(result.last(), WorkerFrame(frame::Exited{0}));
    std::vector<std::string> lines;
    std::istringstream output(result.output());
    for (std::string line; std::getline(output, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << result.output();

    const auto token = nlohmann::json::parse(lines[0]);
    const auto& restricting = token["restricting_sids"];
    ASSERT_EQ(restricting.size(), 3u);
    EXPECT_EQ(restricting[0]["sid"], kCapability);
    EXPECT_EQ(restricting[1]["sid"].get<std::string>().rfind("S-1-5-5-", 0), 0u);
    EXPECT_EQ(restricting[2]["sid"], "S-1-1-0");
    ASSERT_EQ(token["privileges"].size(), 1u);
    EXPECT_EQ(token["privileges"][0]["name"], "SeChangeNotifyPrivilege");
    EXPECT_NE(token["privileges"][0]["attributes"].get<std::uint32_t>() & 2u, 0u);
    std::vector<std::string> granted;
    for (const auto& entry : token["default_dacl"])
        if ((entry["mask"].get<std::uint32_t>() & 0x10000000u) != 0)
            granted.push_back(entry["sid"]);
    for (const auto& sid : {std::string(kCapability), restricting[1]["sid"].get<std::string>()})
        EXPECT_NE(std::find(granted.begin(), granted.end(), sid), granted.end()) << sid;
    // Everyone also means every other run's command.
    EXPECT_EQ(std::find(granted.begin(), granted.end(), "S-1-1-0"), granted.end());
    EXPECT_TRUE(token["write_restricted"].get<bool>());

    EXPECT_EQ(lines[1].rfind("WinSta0\\QuarvelProtectedDesktop-", 0), 0u);
    const auto desktops = nlohmann::json::parse(lines[2]);
    ASSERT_TRUE(desktops.contains(lines[1]));
    const auto& dacl = desktops[lines[1]]["dacl"];
    ASSERT_EQ(dacl.size(), 3u);
    EXPECT_EQ(dacl[0]["sid"], group_sid_);
    EXPECT_EQ(dacl[1]["sid"], kCapability);
    EXPECT_EQ(dacl[2]["sid"], restricting[1]["sid"]);
    for (const auto& entry : dacl)
        EXPECT_EQ(entry["mask"].get<std::uint32_t>(), 0x000200FFu);
}

TEST_F(WorkerHarness, RunnerThatStopsReadingEndsTheWorkerWithTheWriteFailure) {
    auto pipe = create_protected_pipe(own_user_sid(), account_sid_);
    ASSERT_TRUE(pipe);
    UniqueHandle token(winsim::create_token_handle(winsim::account_token_json(kAccount)));
    WideString line =
        to_wide("\"" + testing::windows_form(QUARVEL_EXE) + "\" __worker --pipe " + pipe->name);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessAsUserW(token.get(), nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, nullptr, &startup, &created));
    UniqueHandle worker(created.hProcess);
    UniqueHandle thread(created.hThread);
    ASSERT_TRUE(accept_worker(pipe->handle.get(), worker.get()));
    auto body = write_worker_request(request({"/bin/sh", "-c", "while :; do echo output; done"}));
    ASSERT_TRUE(write_message_body(pipe->handle.get(), *body));
    auto first = read_message<WorkerFrame>(pipe->handle.get());
    ASSERT_TRUE(first);
    pipe->handle.reset();
    ASSERT_EQ(WaitForSingleObject(worker.get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(worker.get(), &code);
    EXPECT_EQ(code, 70u);
}

TEST_F(WorkerHarness, PipeThatCannotBeOpenedIsReportedOnStandardError) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, &inheritable, 0));
    UniqueHandle reader(read);
    UniqueHandle writer(write);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = write;
    startup.hStdOutput = write;
    WideString line = to_wide("\"" + testing::windows_form(QUARVEL_EXE) +
                              "\" __worker --pipe \\\\.\\pipe\\quarvel-protected-none");
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &created));
    UniqueHandle worker(created.hProcess);
    UniqueHandle thread(created.hThread);
    writer.reset();
    std::string text;
    char buffer[1024];
    DWORD got = 0;
    while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    ASSERT_EQ(WaitForSingleObject(worker.get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(worker.get(), &code);
    EXPECT_EQ(code, 70u);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const auto error = nlohmann::json::parse(text);
    EXPECT_EQ(error["code"], "ipc_connect_failed");
    EXPECT_EQ(error["message"], "Could not open protected communication channel: 2.");
}

}  // namespace
}  // namespace quarvel
