// The worker's output frames built in place, end to end over pipes: what the runner reads is the
// decoder's text, the frames' failures are the channel's, and every handle is given back.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/unique_resource.h"
#include "support/anonymous_pipe.h"
#include "support/fault_row.h"
#include "support/leak_checked_test.h"
#include "support/tricky_text.h"
#include "windows/channel/message_framing.h"
#include "windows/process/output_forwarding.h"

namespace quarvel {
namespace {

class OutputRelay : public testing::LeakCheckedTest {};

TEST_F(OutputRelay, TrickyOutputArrivesAsTheDecodersTextAndNothingIsLeaked) {
    std::string output;
    for (const auto& text : testing::tricky_texts())
        output += text;
    auto command = testing::anonymous_pipe();
    auto channel = testing::anonymous_pipe();
    Result<void> forwarded;
    std::thread forwarding(
        [&, read = std::move(command.read), write = std::move(channel.write)]() mutable {
            forwarded = forward_output(std::move(read), SharedChannel::create(std::move(write)),
                                       OutputStream::standard_output);
        });
    std::thread feeder([&, write = std::move(command.write)]() mutable {
        DWORD written = 0;
        for (std::size_t at = 0; at < output.size(); at += written)
            ASSERT_TRUE(
                WriteFile(write.get(), output.data() + at,
                          static_cast<DWORD>(std::min<std::size_t>(output.size() - at, 5000)),
                          &written, nullptr));
    });
    std::string relayed;
    while (auto frame = read_message<WorkerFrame>(channel.read.get()))
        relayed += std::get<frame::Stdout>(*frame).data;
    feeder.join();
    forwarding.join();
    EXPECT_TRUE(forwarded);
    Utf8Stream whole;
    EXPECT_EQ(relayed, whole.decode(output) + whole.finish());
}

TEST_F(OutputRelay, MessagesOfEveryShortLengthAreReadExactlyOneAfterAnother) {
    // Short bodies are where a string's room grows past what was asked for; a reader that
    // filled the room would take the next message's first bytes.
    auto pipe = testing::anonymous_pipe();
    std::vector<std::string> bodies;
    for (std::size_t length = 1; length <= 80; ++length)
        bodies.emplace_back(length, static_cast<char>('a' + length % 26));
    std::thread writer([&] {
        for (const auto& body : bodies)
            ASSERT_TRUE(write_message_body(pipe.write.get(), body));
    });
    for (const auto& body : bodies) {
        const auto read = read_message_body(pipe.read.get());
        ASSERT_TRUE(read) << body.size();
        EXPECT_EQ(*read, body);
    }
    writer.join();
}

TEST_F(OutputRelay, FrameBodyThatCannotBeSentGivesTheChannelsFailure) {
    const testing::FaultRow rows[] = {
        {"WriteFile", 1, 232, winsim::FaultKind::fail, "ipc_write_failed",
         "Could not write protected communication channel. Windows error 232."},
        {"WriteFile", 1, 0, winsim::FaultKind::quirk, "ipc_write_failed",
         "Protected communication channel accepted no data."},
        {"FlushFileBuffers", 1, 6, winsim::FaultKind::fail, "ipc_write_failed",
         "Could not flush protected communication channel. Windows error 6."},
    };
    for (const auto& row : rows) {
        auto pipe = testing::anonymous_pipe();
        auto channel = SharedChannel::create(std::move(pipe.write));
        testing::arm(row);
        const auto sent = channel->send_body(R"({"type":"stdout","data":"x"})");
        winsim::clear_faults();
        ASSERT_FALSE(sent) << row.function;
        EXPECT_EQ(sent.error().code, row.code);
        EXPECT_EQ(sent.error().message, row.message);
        EXPECT_EQ(sent.error().exit_code, 70);
    }
}

}  // namespace
}  // namespace quarvel
