#pragma once
// Messages on the protected channel: a 4-byte little-endian body length, then the body, one
// compact JSON document. The runner sends one worker request; the worker sends frames.

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/failure.h"
#include "documents/worker_request.h"
#include "platform/win32.h"
#include "windows/channel/worker_frame.h"

namespace quarvel {

// Bounds what a reader allocates for one message.
inline constexpr std::uint32_t kMaxMessageBytes = 8 * 1024 * 1024;

// Sends one body: the length, then the body, each in as many WriteFile calls as the pipe takes,
// then a flush, which on a pipe returns once the peer has read everything. A body over
// kMaxMessageBytes is refused before anything is written (invalid_request, exit code 64). A
// failing write or flush gives ipc_write_failed with the Windows error; a write that takes no
// bytes gives ipc_write_failed "Protected communication channel accepted no data.". What was
// written before a failure stays on the pipe.
Result<void> write_message_body(HANDLE pipe, std::string_view body);

// Serialises the document and sends it; one that cannot be serialised gives
// ipc_serialization_failed with the writer's description (exit code 70).
Result<void> write_message(HANDLE pipe, const WorkerFrame& frame);
Result<void> write_message(HANDLE pipe, const WorkerRequest& request);

// Receives one body. The length is checked before anything is allocated: 0 or over
// kMaxMessageBytes gives invalid_request "Protected command message length is invalid." (64).
// Read failures are those of read_exact (ipc_closed, ipc_read_failed).
Result<std::string> read_message_body(HANDLE pipe);

// The same in two steps, for a reader that must know what a refused length leaves on the
// channel: the length as the prefix gives it, unchecked; then the body of that length, the
// length checked first as above.
Result<std::uint32_t> read_length_prefix(HANDLE pipe);
Result<std::string> read_message_body(HANDLE pipe, std::uint32_t length);

// Parses a body that read_message_body received as `Document`; a body that is not one gives
// invalid_request "Invalid protected command message: " + the reader's description (64).
template <class Document>
Result<Document> parse_message(std::string_view body);

template <>
Result<WorkerFrame> parse_message<WorkerFrame>(std::string_view body);
template <>
Result<WorkerRequest> parse_message<WorkerRequest>(std::string_view body);

// Receives one message and parses it as `Document` (read_message_body, then parse_message).
template <class Document>
Result<Document> read_message(HANDLE pipe) {
    auto body = read_message_body(pipe);
    if (!body)
        return std::unexpected(std::move(body.error()));
    return parse_message<Document>(*body);
}

}  // namespace quarvel
