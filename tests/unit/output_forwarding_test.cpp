// Forwarding a command's output as frames: pieces of at most 8,192 bytes, characters never
// split between frames, invalid bytes as U+FFFD, and a write failure ending the forwarding.
// Runs on real anonymous pipes, in both lanes.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/unique_resource.h"
#include "support/anonymous_pipe.h"
#include "windows/channel/message_framing.h"
#include "windows/process/output_forwarding.h"

namespace quarvel {
namespace {

void write_all(HANDLE handle, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                              &written, nullptr));
        done += written;
    }
}

struct Forwarded {
    Result<void> result;
    std::vector<WorkerFrame> frames;
};

// Runs forward_output on a pipe that `feed` writes to (and then closes), and collects the
// frames that arrive on the channel until the channel's writer is gone.
Forwarded forward(const std::function<void(HANDLE)>& feed,
                  OutputStream stream = OutputStream::standard_output) {
    auto output = testing::anonymous_pipe();
    auto channel_pipe = testing::anonymous_pipe();
    auto channel = SharedChannel::create(std::move(channel_pipe.write));
    Forwarded forwarded{Result<void>{}, {}};
    std::thread forwarding([&, read = std::move(output.read)]() mutable {
        forwarded.result = forward_output(std::move(read), std::move(channel), stream);
    });
    std::thread feeder([&, write = std::move(output.write)]() mutable {
        feed(write.get());
        write.reset();
    });
    for (;;) {
        auto frame = read_message<WorkerFrame>(channel_pipe.read.get());
        if (!frame)
            break;
        forwarded.frames.push_back(std::move(*frame));
    }
    feeder.join();
    forwarding.join();
    return forwarded;
}

std::string concatenated(const std::vector<WorkerFrame>& frames) {
    std::string text;
    for (const auto& frame : frames)
        text += std::get<frame::Stdout>(frame).data;
    return text;
}

TEST(OutputForwarding, NothingWrittenGivesNoFrame) {
    auto forwarded = forward([](HANDLE) {});
    EXPECT_TRUE(forwarded.result);
    EXPECT_TRUE(forwarded.frames.empty());
}

TEST(OutputForwarding, LargeOutputArrivesInPiecesOfAtMost8192Bytes) {
    std::string output;
    for (int k = 0; output.size() < 20000; ++k)
        output += "line " + std::to_string(k) + "\n";
    output.resize(20000);
    auto forwarded = forward([&](HANDLE write) { write_all(write, output); });
    ASSERT_TRUE(forwarded.result);
    EXPECT_GE(forwarded.frames.size(), 3u);
    for (const auto& frame : forwarded.frames) {
        EXPECT_GE(std::get<frame::Stdout>(frame).data.size(), 1u);
        EXPECT_LE(std::get<frame::Stdout>(frame).data.size(), kOutputPieceBytes);
    }
    EXPECT_EQ(concatenated(forwarded.frames), output);
}

TEST(OutputForwarding, CharactersAcrossEveryPieceBoundaryArriveByteIdentical) {
    // A four-byte character starts one to three bytes before every multiple of 8,192, written
    // in pieces that end exactly there, so that reads can end inside the character.
    for (std::size_t before = 1; before <= 3; ++before) {
        std::string output;
        while (output.size() < 5 * kOutputPieceBytes) {
            output.append(kOutputPieceBytes - before - output.size() % kOutputPieceBytes, 'x');
            output += "\xF0\x9F\x98\x80";
        }
        auto forwarded = forward([&](HANDLE write) {
            for (std::size_t at = 0; at < output.size(); at += kOutputPieceBytes)
                write_all(write, output.substr(at, kOutputPieceBytes));
        });
        ASSERT_TRUE(forwarded.result);
        for (const auto& frame : forwarded.frames)
            EXPECT_LE(std::get<frame::Stdout>(frame).data.size(), kOutputPieceBytes);
        EXPECT_EQ(concatenated(forwarded.frames), output) << before;
    }
}

TEST(OutputForwarding, InvalidBytesArriveAsReplacementCharacters) {
    auto forwarded = forward([](HANDLE write) { write_all(write, "f\xFFg\xE2\x82"); },
                             OutputStream::standard_error);
    ASSERT_TRUE(forwarded.result);
    std::string text;
    for (const auto& frame : forwarded.frames)
        text += std::get<frame::Stderr>(frame).data;
    EXPECT_EQ(text, "f\xEF\xBF\xBDg\xEF\xBF\xBD");
}

TEST(OutputForwarding, FrameThatCannotBeWrittenEndsForwardingWithThatFailure) {
    auto output = testing::anonymous_pipe();
    auto channel_pipe = testing::anonymous_pipe();
    channel_pipe.read.reset();  // the runner is gone
    write_all(output.write.get(), "data");
    output.write.reset();
    auto result =
        forward_output(std::move(output.read), SharedChannel::create(std::move(channel_pipe.write)),
                       OutputStream::standard_output);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, "ipc_write_failed");
}

}  // namespace
}  // namespace quarvel
