// The protected channel's failure rows that only the simulated host can provoke, each checked
// for the exact failure and for every handle and buffer released.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <future>
#include <string>

#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/process_runner.h"
#include "unit/pipe_client_process.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"
#include "windows/channel/read_exact.h"
#include "windows/channel/shared_channel.h"

namespace quarvel {
namespace {

constexpr std::string_view kAccount = "S-1-5-21-1004336348-1177238915-682003330-1999";

class ChannelFailures : public testing::LeakCheckedTest {
  protected:
    ProtectedPipe pipe() {
        auto created = create_protected_pipe(testing::current_user_sid(), kAccount);
        EXPECT_TRUE(created) << created.error().message;
        return created ? std::move(*created) : ProtectedPipe{};
    }

    struct Pair {
        ProtectedPipe server;
        UniqueHandle client;
    };
    Pair connected() {
        Pair pair{pipe(), {}};
        auto client = open_protected_pipe(pair.server.name);
        EXPECT_TRUE(client) << client.error().message;
        if (client)
            pair.client = std::move(*client);
        EXPECT_TRUE(accept_worker(pair.server.handle.get(), GetCurrentProcess()));
        return pair;
    }
};

Failure internal(const char* code, std::string message) {
    return Failure{code, std::move(message), 70};
}

TEST_F(ChannelFailures, CreationFailsAtEachPlatformCallWithItsRow) {
    const struct {
        const char* function;
        std::uint32_t value;
        Failure expected;
    } cases[] = {
        {"BCryptGenRandom", 0xC0000001u,
         internal("random_generation_failed",
                  "Could not generate secure random value: -1073741823.")},
        {"ConvertStringSecurityDescriptorToSecurityDescriptorW", 87,
         internal("ipc_acl_failed",
                  "Could not create protected communication access rules. Windows error 87.")},
        {"LocalAlloc", 8,
         internal("ipc_acl_failed",
                  "Could not create protected communication access rules. Windows error 8.")},
        {"CreateNamedPipeW", 5,
         internal("ipc_create_failed",
                  "Could not create protected communication channel. Windows error 5.")},
    };
    const std::string owner = testing::current_user_sid();
    for (const auto& c : cases) {
        winsim::inject_fault(c.function, c.value);
        const auto created = create_protected_pipe(owner, kAccount);
        ASSERT_FALSE(created) << c.function;
        EXPECT_FAILURE_EQ(created.error(), c.expected) << c.function;
        winsim::clear_faults();
    }
}

TEST_F(ChannelFailures, AcceptReportsConnectErrorsOtherThanListeningByNumber) {
    auto server = pipe();
    winsim::inject_fault("ConnectNamedPipe", 6);
    const auto accepted = accept_worker(server.handle.get(), GetCurrentProcess());
    ASSERT_FALSE(accepted);
    EXPECT_FAILURE_EQ(accepted.error(), internal("ipc_connect_failed",
                                                 "Could not connect protected command worker: 6."));
}

TEST_F(ChannelFailures, AcceptGivesUpAtTheDeadlineWhileTheWorkerStillRuns) {
    auto server = pipe();
    const auto start = std::chrono::steady_clock::now();
    const auto accepted =
        accept_worker(server.handle.get(), GetCurrentProcess(), std::chrono::milliseconds(200));
    ASSERT_FALSE(accepted);
    EXPECT_FAILURE_EQ(
        accepted.error(),
        internal("ipc_connect_failed", "Timed out waiting for protected command worker."));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST_F(ChannelFailures, AcceptFailsWhenBlockingModeCannotBeSet) {
    auto server = pipe();
    auto client = open_protected_pipe(server.name);
    ASSERT_TRUE(client) << client.error().message;
    winsim::inject_fault("SetNamedPipeHandleState", 87);
    const auto accepted = accept_worker(server.handle.get(), GetCurrentProcess());
    ASSERT_FALSE(accepted);
    EXPECT_FAILURE_EQ(accepted.error(),
                      internal("ipc_connect_failed",
                               "Could not switch protected communication channel to blocking mode. "
                               "Windows error 87."));
}

TEST_F(ChannelFailures, OpeningRetriesABusyPipeThreeTimesAtMost) {
    auto server = pipe();
    const auto busy_calls = [](std::uint64_t count) {
        // A fault fires once, on the next call that reaches its count: one each for the next calls.
        for (std::uint64_t k = 1; k <= count; ++k)
            winsim::inject_fault("CreateFileW", 231);
    };

    busy_calls(3);
    const auto always_busy = open_protected_pipe(server.name);
    ASSERT_FALSE(always_busy);
    EXPECT_FAILURE_EQ(
        always_busy.error(),
        internal("ipc_connect_failed", "Could not connect protected communication channel."));
    winsim::clear_faults();

    busy_calls(1);
    winsim::inject_fault("WaitNamedPipeW", 121);
    const auto wait_failed = open_protected_pipe(server.name);
    ASSERT_FALSE(wait_failed);
    EXPECT_FAILURE_EQ(
        wait_failed.error(),
        internal("ipc_connect_failed",
                 "Timed out waiting for protected communication channel. Windows error 121."));
    winsim::clear_faults();

    busy_calls(2);
    const auto third_time = open_protected_pipe(server.name);
    EXPECT_TRUE(third_time);
}

TEST_F(ChannelFailures, OpeningReportsOtherErrorsByNumber) {
    auto server = pipe();
    winsim::inject_fault("CreateFileW", 5);
    const auto opened = open_protected_pipe(server.name);
    ASSERT_FALSE(opened);
    EXPECT_FAILURE_EQ(
        opened.error(),
        internal("ipc_connect_failed", "Could not open protected communication channel: 5."));
}

TEST_F(ChannelFailures, ReadFailuresNameTheLastError) {
    auto pair = connected();
    std::uint8_t buffer[4];
    const struct {
        std::uint32_t value;
        winsim::FaultKind kind;
        Failure expected;
    } cases[] = {
        {6, winsim::FaultKind::fail,
         internal("ipc_read_failed", "Protected communication channel closed: 6.")},
        {109, winsim::FaultKind::fail,
         internal("ipc_closed", "Protected communication channel closed: 109.")},
        // Success with nothing read: no error was set, and an older one is not reported.
        {0, winsim::FaultKind::quirk,
         internal("ipc_read_failed", "Protected communication channel closed: 0.")},
    };
    for (const auto& c : cases) {
        winsim::inject_fault("ReadFile", c.value, 1, c.kind);
        SetLastError(ERROR_BROKEN_PIPE);
        const auto read = read_exact(pair.server.handle.get(), buffer);
        ASSERT_FALSE(read);
        EXPECT_FAILURE_EQ(read.error(), c.expected);
    }
    EXPECT_TRUE(read_exact(pair.server.handle.get(), std::span<std::uint8_t>()));
}

TEST_F(ChannelFailures, WriteFailuresEndTheWriteAtOnce) {
    auto pair = connected();
    const struct {
        const char* function;
        std::uint64_t nth;
        std::uint32_t value;
        winsim::FaultKind kind;
        Failure expected;
    } cases[] = {
        {"WriteFile", 1, 232, winsim::FaultKind::fail,
         internal("ipc_write_failed",
                  "Could not write protected communication channel. Windows error 232.")},
        {"WriteFile", 1, 0, winsim::FaultKind::quirk,
         internal("ipc_write_failed", "Protected communication channel accepted no data.")},
        {"FlushFileBuffers", 1, 109, winsim::FaultKind::fail,
         internal("ipc_write_failed",
                  "Could not flush protected communication channel. Windows error 109.")},
    };
    for (const auto& c : cases) {
        // A write that reaches the flush waits for its reader.
        auto drained = std::async(std::launch::async, [&] {
            std::uint8_t bytes[4 + 2];
            return read_exact(pair.server.handle.get(), bytes);
        });
        winsim::inject_fault(c.function, c.value, c.nth, c.kind);
        const auto written = write_message_body(pair.client.get(), "{}");
        ASSERT_FALSE(written) << c.function;
        EXPECT_FAILURE_EQ(written.error(), c.expected) << c.function;
        // A failed write sent nothing; the reader still waits for a whole message.
        if (std::string_view(c.function) == "WriteFile") {
            ASSERT_TRUE(write_message_body(pair.client.get(), "{}"));
        }
        EXPECT_TRUE(drained.get());
    }
}

TEST_F(ChannelFailures, FailedBodyWriteLeavesTheLengthOnThePipe) {
    auto pair = connected();
    winsim::inject_fault("WriteFile", 232, 2);
    const auto written = write_message_body(pair.client.get(), "{\"a\":1}");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, "ipc_write_failed");
    std::uint8_t prefix[4];
    ASSERT_TRUE(read_exact(pair.server.handle.get(), prefix));
    EXPECT_EQ(prefix[0], 7);
}

TEST_F(ChannelFailures, FrameThatCannotBeSerialisedIsRefusedBeforeWriting) {
    auto pair = connected();
    const auto written = write_message(pair.client.get(), frame::Stdout{"\xFF"});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, "ipc_serialization_failed");
    EXPECT_EQ(written.error().exit_code, 70);
    EXPECT_FALSE(written.error().message.empty());
}

TEST_F(ChannelFailures, SharedChannelClosesThePipeWithItsLastHolder) {
    auto pair = connected();
    const auto open_before = winsim::open_handle_count();
    auto channel = SharedChannel::create(std::move(pair.client));
    auto other = channel;
    channel.reset();
    EXPECT_EQ(winsim::open_handle_count(), open_before);
    other.reset();
    EXPECT_EQ(winsim::open_handle_count(), open_before - 1);
}

// ---------------------------------------------------------------- who may open the pipe

class PipeIdentity : public ::testing::Test {
  protected:
    void SetUp() override { testing::use_fresh_machine(); }

    // pipe_client's exit code and error line when it opens `name` as the given token.
    testing::ProcessOutcome open_as(const std::string& name, const std::string& token_json) {
        testing::ProcessOptions options;
        options.environment[winsim::kTokenVariable] = token_json;
        return testing::run_process({testing::test_program("pipe_client"), name, "open"}, options);
    }
};

TEST_F(PipeIdentity, StrangerIsDeniedAndTheRunsAccountIsAdmitted) {
    winsim::ensure_local_user("QuarvelSandboxOnline", "pw-online-1");
    winsim::ensure_local_user("Stranger", "pw-stranger-1");
    const std::string account = winsim::ensure_local_user("QuarvelSandboxOnline", "pw-online-1");
    auto server = create_protected_pipe(testing::current_user_sid(), account);
    ASSERT_TRUE(server) << server.error().message;

    const auto stranger = open_as(server->name, winsim::account_token_json("Stranger"));
    EXPECT_EQ(stranger.exit_code, 70);
    EXPECT_EQ(stranger.standard_error,
              "{\"code\":\"ipc_connect_failed\",\"message\":\"Could not open protected "
              "communication channel: 5.\"}\n");

    const auto protected_account =
        open_as(server->name, winsim::account_token_json("QuarvelSandboxOnline"));
    EXPECT_EQ(protected_account.exit_code, 0) << protected_account.standard_error;
}

TEST_F(PipeIdentity, AStrangerIsDeniedEvenAsAnAdministratorsMember) {
    winsim::ensure_local_user("QuarvelSandboxOnline", "pw-online-1");
    const std::string account = winsim::ensure_local_user("QuarvelSandboxOnline", "pw-online-1");
    const std::string admin = winsim::ensure_local_user("OtherAdmin", "pw-admin-1");
    winsim::add_local_group_member("Administrators", admin);
    auto server = create_protected_pipe(testing::current_user_sid(), account);
    ASSERT_TRUE(server);
    const auto outcome = open_as(server->name, winsim::account_token_json("OtherAdmin", true));
    EXPECT_EQ(outcome.exit_code, 70) << outcome.standard_error;
}

}  // namespace
}  // namespace quarvel
