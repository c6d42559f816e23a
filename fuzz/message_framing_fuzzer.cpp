// The framing layer over a real handle: the input goes through a simulated anonymous pipe, in
// pieces of a size the input chooses, and read_message must give, message by message, exactly
// what the byte layout says: each body whole, a refused length before anything is allocated
// for it, a stream cut short as a closed channel, a body that is no document as an invalid
// message, and nothing after the first failure. What was read is then sent back through
// write_message and must arrive unchanged. Every handle the run took is given back.
//
// Input: one mode byte, then the stream. Bit 0 of the mode chooses the document (worker frames,
// as the runner reads them, or the worker request); bits 1 to 3 the size of the writer's pieces.

#include <winsim/testing.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_check.h"
#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "windows/channel/message_framing.h"

namespace quarvel::fuzz {
namespace {

constexpr std::array<std::size_t, 8> kPieceSizes = {1, 2, 3, 4, 5, 16, 509, 65536};

// A pipe whose write end a thread of its own feeds and then closes, while the caller reads the
// read end. Closing the read end first makes a writer still blocked in WriteFile fail, so
// finishing never waits for a reader that has stopped.
class FedPipe {
  public:
    explicit FedPipe(std::function<void(HANDLE)> write) {
        HANDLE read = nullptr;
        HANDLE written = nullptr;
        require(CreatePipe(&read, &written, nullptr, 0) != FALSE, "an anonymous pipe is created");
        read_end_.reset(read);
        writer_ = std::thread([write = std::move(write), end = UniqueHandle(written)]() mutable {
            write(end.get());
        });
    }
    ~FedPipe() { finish(); }
    FedPipe(const FedPipe&) = delete;
    FedPipe& operator=(const FedPipe&) = delete;

    HANDLE read_end() const { return read_end_.get(); }

    void finish() {
        read_end_.reset();
        if (writer_.joinable())
            writer_.join();
    }

  private:
    UniqueHandle read_end_;
    std::thread writer_;
};

void write_in_pieces(HANDLE pipe, std::string_view bytes, std::size_t piece) {
    for (std::size_t at = 0; at < bytes.size();) {
        const auto size = static_cast<DWORD>(std::min(piece, bytes.size() - at));
        DWORD written = 0;
        if (!WriteFile(pipe, bytes.data() + at, size, &written, nullptr) || written == 0)
            return;  // the reader stopped
        at += written;
    }
}

std::uint32_t length_at(std::string_view stream, std::size_t at) {
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i)
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(stream[at + i])) << 8 * i;
    return length;
}

Failure channel_closed() {
    // ERROR_BROKEN_PIPE: the writer closed its end before the reader had all it asked for.
    return Failure{"ipc_closed", "Protected communication channel closed: 109.",
                   exit_code::internal};
}

// What read_message must give for `stream`, read off the byte layout: the messages in order,
// up to and including the first failure.
template <class Document, class Parse>
std::vector<Result<Document>> expected_reads(std::string_view stream, Parse parse) {
    std::vector<Result<Document>> reads;
    for (std::size_t at = 0;;) {
        if (stream.size() - at < 4) {
            reads.emplace_back(std::unexpected(channel_closed()));
            return reads;
        }
        const std::uint32_t length = length_at(stream, at);
        at += 4;
        if (length == 0 || length > kMaxMessageBytes) {
            reads.emplace_back(std::unexpected(
                Failure{"invalid_request", "Protected command message length is invalid.",
                        exit_code::invalid_request}));
            return reads;
        }
        if (stream.size() - at < length) {
            reads.emplace_back(std::unexpected(channel_closed()));
            return reads;
        }
        auto document = parse(stream.substr(at, length));
        at += length;
        if (!document) {
            reads.emplace_back(std::unexpected(
                Failure{"invalid_request", "Invalid protected command message: " + document.error(),
                        exit_code::invalid_request}));
            return reads;
        }
        reads.emplace_back(std::move(*document));
    }
}

// Reads messages until the first failure, which is kept as the last entry.
template <class Document>
std::vector<Result<Document>> read_until_failure(HANDLE pipe) {
    std::vector<Result<Document>> reads;
    do
        reads.push_back(read_message<Document>(pipe));
    while (reads.back().has_value());
    return reads;
}

template <class Document>
void require_same_reads(const std::vector<Result<Document>>& got,
                        const std::vector<Result<Document>>& expected) {
    require(got.size() == expected.size(), "the reader stops at the first failure");
    for (std::size_t i = 0; i < got.size(); ++i) {
        require(got[i].has_value() == expected[i].has_value(),
                "a message is read when its bytes are one");
        if (got[i])
            require(*got[i] == *expected[i], "a message reads as its body's document");
        else
            require(got[i].error() == expected[i].error(), "a read fails as its bytes say");
    }
}

// The documents read, written again by the sending side's writer, arrive as the same documents,
// and the channel then reads as closed.
template <class Document>
void require_resent_unchanged(const std::vector<Result<Document>>& reads) {
    std::vector<Document> documents;
    for (const auto& read : reads)
        if (read)
            documents.push_back(*read);
    std::vector<Result<void>> sent;
    FedPipe pipe([&](HANDLE end) {
        for (const auto& document : documents)
            sent.push_back(write_message(end, document));
    });
    const auto resent = read_until_failure<Document>(pipe.read_end());
    pipe.finish();
    for (const auto& send : sent)
        require(send.has_value(), "a document that was read can be sent");
    require(resent.size() == documents.size() + 1, "every document sent is read back");
    for (std::size_t i = 0; i < documents.size(); ++i)
        require(resent[i].has_value() && *resent[i] == documents[i],
                "a document sent arrives unchanged");
    require(resent.back().error() == channel_closed(), "after the last message the channel closes");
}

template <class Document, class Parse>
void read_stream(std::string_view stream, std::size_t piece, Parse parse) {
    std::vector<Result<Document>> reads;
    {
        FedPipe pipe([&](HANDLE end) { write_in_pieces(end, stream, piece); });
        reads = read_until_failure<Document>(pipe.read_end());
    }
    for (const auto& read : reads)
        if (!read)
            require_printable_failure(read.error(), read.error().exit_code);
    require_same_reads(reads, expected_reads<Document>(stream, parse));
    require_resent_unchanged(reads);
}

}  // namespace
}  // namespace quarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarvel;
    using namespace quarvel::fuzz;
    if (size == 0)
        return 0;
    const std::size_t handles = winsim::open_handle_count();
    const std::size_t allocations = winsim::outstanding_local_allocations();
    const std::uint8_t mode = data[0];
    const std::string_view stream = as_text(data + 1, size - 1);
    const std::size_t piece = kPieceSizes[(mode >> 1) & 7];
    if ((mode & 1) == 0)
        read_stream<WorkerFrame>(stream, piece, parse_worker_frame);
    else
        read_stream<WorkerRequest>(stream, piece, parse_worker_request);
    require(winsim::open_handle_count() == handles, "every handle taken is closed");
    require(winsim::outstanding_local_allocations() == allocations,
            "every block allocated is freed");
    return 0;
}
