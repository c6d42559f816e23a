#include "windows/channel/message_framing.h"

#include <array>
#include <vector>

#include "windows/channel/read_exact.h"
#include "windows/security/os_failure.h"

namespace quarvel {
namespace {

using LengthPrefix = std::array<std::uint8_t, 4>;

LengthPrefix encode_length(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

std::uint32_t decode_length(const LengthPrefix& prefix) {
    return static_cast<std::uint32_t>(prefix[0]) | static_cast<std::uint32_t>(prefix[1]) << 8 |
           static_cast<std::uint32_t>(prefix[2]) << 16 |
           static_cast<std::uint32_t>(prefix[3]) << 24;
}

// Writes all of `bytes`; WriteFile may take less than it is given.
Result<void> write_all(HANDLE pipe, const std::uint8_t* bytes, std::size_t count) {
    std::size_t written = 0;
    while (written < count) {
        DWORD put = 0;
        if (!WriteFile(pipe, bytes + written, static_cast<DWORD>(count - written), &put, nullptr))
            return std::unexpected(
                os_failure("ipc_write_failed", "Could not write protected communication channel."));
        if (put == 0)
            return std::unexpected(fixed_failure(
                "ipc_write_failed", "Protected communication channel accepted no data.",
                exit_code::internal));
        written += put;
    }
    return {};
}

Failure invalid_message(std::string_view description) {
    return formatted_failure("invalid_request", exit_code::invalid_request,
                             "Invalid protected command message: ", description);
}

Result<void> write_serialised(HANDLE pipe, std::expected<std::string, std::string> body) {
    if (!body)
        return std::unexpected(
            Failure{"ipc_serialization_failed", std::move(body.error()), exit_code::internal});
    return write_message_body(pipe, *body);
}

template <class Parse>
auto parsed(std::string_view body, Parse parse)
    -> Result<typename decltype(parse(""))::value_type> {
    auto document = parse(body);
    if (!document)
        return std::unexpected(invalid_message(document.error()));
    return std::move(*document);
}

}  // namespace

Result<void> write_message_body(HANDLE pipe, std::string_view body) {
    if (body.size() > kMaxMessageBytes)
        return std::unexpected(fixed_failure("invalid_request",
                                             "Protected command message is too large.",
                                             exit_code::invalid_request));
    const LengthPrefix prefix = encode_length(static_cast<std::uint32_t>(body.size()));
    if (auto sent = write_all(pipe, prefix.data(), prefix.size()); !sent)
        return sent;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(body.data());
    if (auto sent = write_all(pipe, bytes, body.size()); !sent)
        return sent;
    if (!FlushFileBuffers(pipe))
        return std::unexpected(
            os_failure("ipc_write_failed", "Could not flush protected communication channel."));
    return {};
}

Result<void> write_message(HANDLE pipe, const WorkerFrame& frame) {
    return write_serialised(pipe, write_worker_frame(frame));
}

Result<void> write_message(HANDLE pipe, const WorkerRequest& request) {
    return write_serialised(pipe, write_worker_request(request));
}

Result<std::uint32_t> read_length_prefix(HANDLE pipe) {
    LengthPrefix prefix{};
    if (auto read = read_exact(pipe, prefix); !read)
        return std::unexpected(std::move(read.error()));
    return decode_length(prefix);
}

Result<std::string> read_message_body(HANDLE pipe, std::uint32_t length) {
    if (length == 0 || length > kMaxMessageBytes)
        return std::unexpected(fixed_failure("invalid_request",
                                             "Protected command message length is invalid.",
                                             exit_code::invalid_request));
    // The body is read straight into the string, without filling it with zeros first. The
    // operation is told the room it has, which libstdc++ 12 gives as the new capacity, possibly
    // more than asked for: only `length` bytes are read.
    std::string body;
    Result<void> read;
    body.resize_and_overwrite(length, [&](char* bytes, std::size_t) {
        read = read_exact(pipe, {reinterpret_cast<std::uint8_t*>(bytes), length});
        return read ? std::size_t{length} : 0;
    });
    if (!read)
        return std::unexpected(std::move(read.error()));
    return body;
}

Result<std::string> read_message_body(HANDLE pipe) {
    auto length = read_length_prefix(pipe);
    if (!length)
        return std::unexpected(std::move(length.error()));
    return read_message_body(pipe, *length);
}

template <>
Result<WorkerFrame> parse_message<WorkerFrame>(std::string_view body) {
    return parsed(body, parse_worker_frame);
}

template <>
Result<WorkerRequest> parse_message<WorkerRequest>(std::string_view body) {
    return parsed(body, parse_worker_request);
}

}  // namespace quarvel
