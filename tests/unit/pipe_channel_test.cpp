// The protected channel between two processes, on the platform's own named pipes: the
// simulated host's on the host lane, Wine's in the Wine lane.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "pipe_client_process.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"
#include "windows/channel/shared_channel.h"

namespace quarvel {
namespace {

using testing::current_user_sid;
using testing::start_pipe_client;
using testing::wait_for_exit_code;

// A protected account that this test never runs as; the owner entry admits the test itself.
constexpr std::string_view kOtherAccount = "S-1-5-21-1004336348-1177238915-682003330-1999";

ProtectedPipe new_pipe() {
    auto pipe = create_protected_pipe(current_user_sid(), kOtherAccount);
    EXPECT_TRUE(pipe) << pipe.error().message;
    return pipe ? std::move(*pipe) : ProtectedPipe{};
}

// Both ends in this process, connected and in blocking mode.
struct PipePair {
    ProtectedPipe server;
    UniqueHandle client;
};

PipePair connected_pair() {
    PipePair pair{new_pipe(), {}};
    auto client = open_protected_pipe(pair.server.name);
    EXPECT_TRUE(client) << client.error().message;
    if (client)
        pair.client = std::move(*client);
    const auto accepted = accept_worker(pair.server.handle.get(), GetCurrentProcess());
    EXPECT_TRUE(accepted) << accepted.error().message;
    return pair;
}

void write_raw(HANDLE pipe, std::string_view bytes) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
}

std::string prefixed(std::string_view body) {
    const auto n = static_cast<std::uint32_t>(body.size());
    std::string bytes{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                      static_cast<char>(n >> 24)};
    return bytes + std::string(body);
}

std::string expected_piece(const char* stream, int number) {
    std::string text = std::string(stream) + "-" + std::to_string(number) + ":";
    text.resize(text.size() + 3000 + static_cast<std::size_t>(number) * 97 % 5000, 'x');
    return text;
}

// ---------------------------------------------------------------- two processes

TEST(ChannelBetweenProcesses, RequestThenFramesFromTwoThreadsArriveWholeAndInStreamOrder) {
    auto pipe = new_pipe();
    auto client = start_pipe_client(pipe.name, "frames", "40");
    ASSERT_TRUE(client.process);
    ASSERT_TRUE(accept_worker(pipe.handle.get(), client.process.get()));
    WorkerRequest request;
    request.policy.cwd = to_wide("C:\\work");
    request.command = {"cmd.exe", "/c", "exit 3"};
    request.account_sid = kOtherAccount;
    request.base_sid = "S-1-5-21-1004336348-1177238915-682003330-1998";
    request.capability_sid = "S-1-5-21-1-2-3-4";
    ASSERT_TRUE(write_message(pipe.handle.get(), request));

    std::vector<WorkerFrame> frames;
    for (;;) {
        auto frame = read_message<WorkerFrame>(pipe.handle.get());
        ASSERT_TRUE(frame) << frame.error().message;
        frames.push_back(*frame);
        if (is_terminal(*frame))
            break;
    }
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames.front(), WorkerFrame(frame::Progress{request.capability_sid}));
    EXPECT_EQ(frames.back(), WorkerFrame(frame::Exited{3}));
    int next_out = 0, next_err = 0, started = 0;
    for (const auto& frame : frames) {
        if (const auto* out = std::get_if<frame::Stdout>(&frame)) {
            EXPECT_EQ(out->data, expected_piece("out", next_out++));
        }
        if (const auto* err = std::get_if<frame::Stderr>(&frame)) {
            EXPECT_EQ(err->data, expected_piece("err", next_err++));
        }
        if (const auto* start = std::get_if<frame::Started>(&frame)) {
            EXPECT_EQ(start->process_id, client.id);
            ++started;
        }
    }
    EXPECT_EQ(next_out, 40);
    EXPECT_EQ(next_err, 40);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(wait_for_exit_code(client.process.get()), 0u);
}

TEST(ChannelBetweenProcesses, ClientThatExitsWithoutConnectingFailsAcceptLongBeforeTheDeadline) {
    auto pipe = new_pipe();
    auto client = start_pipe_client(pipe.name, "exit", "7");
    ASSERT_TRUE(client.process);
    const auto start = std::chrono::steady_clock::now();
    const auto accepted = accept_worker(pipe.handle.get(), client.process.get());
    ASSERT_FALSE(accepted);
    EXPECT_EQ(
        accepted.error(),
        (Failure{"worker_start_failed", "Protected command worker exited before connecting.", 70}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(ChannelBetweenProcesses, ClientThatConnectedAndClosedIsNotTakenForAWorker) {
    auto pipe = new_pipe();
    auto client = start_pipe_client(pipe.name, "connect-close", "0");
    ASSERT_TRUE(client.process);
    // Gone before the first look at the pipe: a client caught between its open and its close
    // would rightly be taken, so waiting here keeps the test about the closed connection.
    ASSERT_EQ(wait_for_exit_code(client.process.get()), 0u);
    const auto accepted = accept_worker(pipe.handle.get(), client.process.get());
    ASSERT_FALSE(accepted);
    EXPECT_EQ(accepted.error().code, "worker_start_failed");
}

TEST(ChannelBetweenProcesses, PeerClosingBetweenLengthAndBodyGivesIpcClosedWith109) {
    auto pipe = new_pipe();
    auto client = start_pipe_client(pipe.name, "prefix-only");
    ASSERT_TRUE(client.process);
    ASSERT_TRUE(accept_worker(pipe.handle.get(), client.process.get()));
    write_raw(pipe.handle.get(), "g");
    const auto body = read_message_body(pipe.handle.get());
    ASSERT_FALSE(body);
    EXPECT_FAILURE_EQ(body.error(),
                      (Failure{"ipc_closed", "Protected communication channel closed: 109.", 70}));
}

TEST(ChannelBetweenProcesses, LengthArrivingInTwoPiecesIsReadWhole) {
    auto pipe = new_pipe();
    auto client = start_pipe_client(pipe.name, "split-length");
    ASSERT_TRUE(client.process);
    ASSERT_TRUE(accept_worker(pipe.handle.get(), client.process.get()));
    const auto body = read_message_body(pipe.handle.get());
    ASSERT_TRUE(body) << body.error().message;
    EXPECT_EQ(*body, "{}");
    pipe.handle.reset();
    EXPECT_EQ(wait_for_exit_code(client.process.get()), 0u);
}

TEST(ChannelBetweenProcesses, LargestBodyPassesBothWays) {
    auto pipe = new_pipe();
    auto client = start_pipe_client(pipe.name, "echo");
    ASSERT_TRUE(client.process);
    ASSERT_TRUE(accept_worker(pipe.handle.get(), client.process.get()));
    std::string body(kMaxMessageBytes, 'a');
    body.front() = '"';
    body.back() = '"';
    // The echo starts writing back only after it has read everything, so one thread suffices.
    ASSERT_TRUE(write_message_body(pipe.handle.get(), body));
    const auto echoed = read_message_body(pipe.handle.get());
    ASSERT_TRUE(echoed) << echoed.error().message;
    EXPECT_EQ(echoed->size(), body.size());
    EXPECT_TRUE(*echoed == body);
    EXPECT_EQ(wait_for_exit_code(client.process.get()), 0u);
}

// ---------------------------------------------------------------- creation and opening

TEST(ProtectedPipeCreation, NameIsThePrefixAndFortyEightLowercaseHexDigits) {
    const auto pipe = new_pipe();
    ASSERT_EQ(pipe.name.size(), kProtectedPipePrefix.size() + 48);
    EXPECT_TRUE(pipe.name.starts_with(kProtectedPipePrefix));
    EXPECT_EQ(pipe.name.find_first_not_of("0123456789abcdef", kProtectedPipePrefix.size()),
              std::string::npos);
}

TEST(ProtectedPipeCreation, SecondPipeOfTheSameNameFailsWithIpcCreateFailed) {
    const auto pipe = new_pipe();
    const auto second = create_protected_pipe_named(pipe.name, current_user_sid(), kOtherAccount);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().code, "ipc_create_failed");
    EXPECT_TRUE(second.error().message.starts_with(
        "Could not create protected communication channel. Windows error "));
}

TEST(ProtectedPipeCreation, SidTextThatCouldAddEntriesIsRefused) {
    const auto pipe = create_protected_pipe(current_user_sid(), "S-1-5-18)(A;;GA;;;WD");
    ASSERT_FALSE(pipe);
    EXPECT_FAILURE_EQ(
        pipe.error(),
        (Failure{"ipc_acl_failed",
                 "Could not create protected communication access rules. Windows error 1337.",
                 70}));
}

TEST(ProtectedPipeOpening, MissingPipeFailsWithItsWindowsError) {
    const auto opened = open_protected_pipe(std::string(kProtectedPipePrefix) + "00");
    ASSERT_FALSE(opened);
    EXPECT_FAILURE_EQ(
        opened.error(),
        (Failure{"ipc_connect_failed", "Could not open protected communication channel: 2.", 70}));
}

TEST(ProtectedPipeOpening, TakenInstanceIsBusyUntilItsOpenerLetsGo) {
    auto pair = connected_pair();
    HANDLE second = CreateFileW(to_wide(pair.server.name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
}

TEST(ProtectedPipeOpening, AcceptedPipeIsInBlockingMode) {
    auto pair = connected_pair();
    // A blocking read waits for the bytes instead of failing with ERROR_NO_DATA.
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buffer[3];
        DWORD got = 0;
        const BOOL ok = ReadFile(pair.server.handle.get(), buffer, 3, &got, nullptr);
        return ok ? got : 0xFFFFFFFF;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    write_raw(pair.client.get(), "abc");
    EXPECT_EQ(reader.get(), 3u);
}

// ---------------------------------------------------------------- framing

TEST(MessageFraming, OneByteOverTheLimitIsRefusedAndNothingIsWritten) {
    auto pair = connected_pair();
    const auto refused =
        write_message_body(pair.client.get(), std::string(kMaxMessageBytes + 1, ' '));
    ASSERT_FALSE(refused);
    EXPECT_FAILURE_EQ(refused.error(),
                      (Failure{"invalid_request", "Protected command message is too large.", 64}));
    // A write returns once its message was read (the flush), so the reader runs beside it.
    auto next =
        std::async(std::launch::async, [&] { return read_message_body(pair.server.handle.get()); });
    ASSERT_TRUE(write_message_body(pair.client.get(), "{}"));
    const auto body = next.get();
    ASSERT_TRUE(body) << body.error().message;
    EXPECT_EQ(*body, "{}");
}

TEST(MessageFraming, LengthsOutsideOneToTheLimitAreRefusedBeforeReadingTheBody) {
    for (const std::string& length : {std::string(4, '\0'), std::string("\x01\x00\x80\x00", 4),
                                      std::string("\xff\xff\xff\xff", 4)}) {
        auto pair = connected_pair();
        write_raw(pair.client.get(), length);
        const auto body = read_message_body(pair.server.handle.get());
        ASSERT_FALSE(body);
        EXPECT_FAILURE_EQ(
            body.error(),
            (Failure{"invalid_request", "Protected command message length is invalid.", 64}));
    }
}

TEST(MessageFraming, TrailingWhitespaceInsideTheBodyParsesAndAnythingElseFails) {
    const struct {
        std::string body;
        bool parses;
    } cases[] = {
        {"{\"type\":\"exited\",\"exit_code\":0}\n", true},
        {"{\"type\":\"exited\",\"exit_code\":0} \t\r\n", true},
        {"{\"type\":\"exited\",\"exit_code\":0}x", false},
        {"{\"type\":\"exited\",\"exit_code\":0}{}", false},
        {"{\"type\":\"exited\",\"exit_code\":0}", true},
    };
    auto pair = connected_pair();
    for (const auto& c : cases) {
        write_raw(pair.client.get(), prefixed(c.body));
        const auto frame = read_message<WorkerFrame>(pair.server.handle.get());
        EXPECT_EQ(frame.has_value(), c.parses) << c.body;
        if (!frame) {
            EXPECT_EQ(frame.error().code, "invalid_request");
            EXPECT_EQ(frame.error().exit_code, 64);
            EXPECT_TRUE(frame.error().message.starts_with("Invalid protected command message: "))
                << frame.error().message;
        }
    }
}

TEST(MessageFraming, FramesArriveAsTheyWereWritten) {
    auto pair = connected_pair();
    const WorkerFrame frames[] = {frame::Progress{"stdio_ready"}, frame::Started{4242},
                                  frame::Stdout{"f\xEF\xBF\xBDg"}, frame::Stderr{"line\n"},
                                  frame::Failed{"process_create_failed", "Could not \"x\"."}};
    std::thread writer([&] {
        for (const auto& frame : frames)
            EXPECT_TRUE(write_message(pair.client.get(), frame));
    });
    for (const auto& frame : frames) {
        const auto read = read_message<WorkerFrame>(pair.server.handle.get());
        ASSERT_TRUE(read) << read.error().message;
        EXPECT_EQ(*read, frame);
    }
    writer.join();
}

TEST(MessageFraming, RequestTravelsWholeAndAnUnknownKeyInItIsRefused) {
    auto pair = connected_pair();
    WorkerRequest request;
    request.policy.cwd = to_wide("C:\\work");
    request.command = {"cmd.exe", "/c", "exit 3"};
    request.account_sid = "S-1-5-21-1-2-3-1001";
    request.base_sid = "S-1-5-21-1-2-3-1000";
    request.capability_sid = "S-1-5-21-1-2-3-4";
    request.trace = true;
    auto read = std::async(std::launch::async,
                           [&] { return read_message<WorkerRequest>(pair.client.get()); });
    ASSERT_TRUE(write_message(pair.server.handle.get(), request));
    const auto received = read.get();
    ASSERT_TRUE(received) << received.error().message;
    EXPECT_EQ(*received, request);

    const auto text = write_worker_request(request);
    ASSERT_TRUE(text);
    std::string extended = *text;
    extended.insert(1, "\"extra\":1,");
    write_raw(pair.server.handle.get(), prefixed(extended));
    const auto refused = read_message<WorkerRequest>(pair.client.get());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, "invalid_request");
    EXPECT_EQ(refused.error().exit_code, 64);
    EXPECT_TRUE(refused.error().message.starts_with("Invalid protected command message: "));
    EXPECT_NE(refused.error().message.find("extra"), std::string::npos) << refused.error().message;
}

// ---------------------------------------------------------------- the worker's send lock

TEST(SharedChannelLock, HolderEndingAbnormallyBreaksTheLockForEveryone) {
    auto pair = connected_pair();
    auto channel = SharedChannel::create(std::move(pair.client));
    std::thread holder([channel] {
        try {
            auto guard = channel->lock();
            ASSERT_TRUE(guard);
            throw std::runtime_error("the holder fails while writing");
        } catch (const std::runtime_error&) {
        }
    });
    holder.join();
    const Failure broken{"ipc_lock_failed", "Protected communication lock failed.", 70};
    const auto again = channel->lock();
    ASSERT_FALSE(again);
    EXPECT_FAILURE_EQ(again.error(), broken);
    const auto sent = channel->send(frame::Exited{0});
    ASSERT_FALSE(sent);
    EXPECT_FAILURE_EQ(sent.error(), broken);
}

TEST(SharedChannelLock, HolderThatLetsGoNormallyLeavesTheLockUsable) {
    auto pair = connected_pair();
    auto channel = SharedChannel::create(std::move(pair.client));
    { ASSERT_TRUE(channel->lock()); }
    auto read = std::async(std::launch::async,
                           [&] { return read_message<WorkerFrame>(pair.server.handle.get()); });
    ASSERT_TRUE(channel->send(frame::Exited{5}));
    const auto frame = read.get();
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, WorkerFrame(frame::Exited{5}));
}

TEST(SharedChannelLock, PipeClosesWhenTheLastHolderLetsGo) {
    auto pair = connected_pair();
    auto channel = SharedChannel::create(std::move(pair.client));
    auto second_holder = channel;
    channel.reset();
    auto read = std::async(std::launch::async,
                           [&] { return read_message<WorkerFrame>(pair.server.handle.get()); });
    ASSERT_TRUE(second_holder->send(frame::Progress{"still open"}));
    ASSERT_TRUE(read.get());
    second_holder.reset();
    const auto after = read_message_body(pair.server.handle.get());
    ASSERT_FALSE(after);
    EXPECT_EQ(after.error().code, "ipc_closed");
}

}  // namespace
}  // namespace quarvel
