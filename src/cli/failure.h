#pragma once
// Failures are values: every operation returns its result or one Failure, which travels up
// unchanged until it is printed as an error line or turned into a status document.

#include <concepts>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace quarvel {

namespace exit_code {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t status_not_ready = 1;
inline constexpr std::int32_t invalid_request = 64;
inline constexpr std::int32_t internal = 70;
inline constexpr std::int32_t io = 74;
inline constexpr std::int32_t setup_required = 78;
inline constexpr std::int32_t launch_terminated = 125;
}  // namespace exit_code

struct Failure {
    std::string code;
    std::string message;
    std::int32_t exit_code = exit_code::internal;

    bool operator==(const Failure&) const = default;
};

template <class T>
using Result = std::expected<T, Failure>;

Failure fixed_failure(std::string_view code, std::string_view message, std::int32_t exit_code);

namespace detail {
inline void append_piece(std::string& out, std::string_view text) {
    out += text;
}
inline void append_piece(std::string& out, std::integral auto number) {
    out += std::to_string(number);
}
}  // namespace detail

// A failure whose message is the pieces (texts and integers in decimal) joined in order.
template <class... Pieces>
Failure formatted_failure(std::string_view code, std::int32_t exit_code, const Pieces&... pieces) {
    std::string message;
    (detail::append_piece(message, pieces), ...);
    return Failure{std::string(code), std::move(message), exit_code};
}

// The system's text for a Windows error number, without the trailing line break.
std::string system_error_text(std::uint32_t os_error);

// File input or output failed: code io_error, exit code 74, message
// context + ": " + the system's text + " (os error N)".
Failure io_failure(std::string_view context, std::uint32_t os_error);

// The one-line JSON object {"code":...,"message":...} for a failure, without a line feed.
std::string error_line(const Failure& failure);

}  // namespace quarvel
