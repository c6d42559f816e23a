#include "platform/utf8_error.h"

#include <cstdint>

#include "platform/utf8_scan.h"

namespace quarvel {
namespace {

std::string invalid_sequence(std::size_t length, std::size_t index) {
    return "invalid utf-8 sequence of " + std::to_string(length) + " bytes from index " +
           std::to_string(index);
}

}  // namespace

std::optional<std::string> utf8_error_description(std::string_view bytes) {
    const std::size_t at = valid_utf8_prefix(bytes);
    if (at == bytes.size())
        return std::nullopt;
    // The sequence that starts here is not well formed; say where it goes wrong.
    const Utf8SequenceShape shape = utf8_sequence_shape(static_cast<std::uint8_t>(bytes[at]));
    if (shape.length == 0)
        return invalid_sequence(1, at);
    for (std::size_t k = 1; k < shape.length; ++k) {
        if (at + k >= bytes.size())
            return "incomplete utf-8 byte sequence from index " + std::to_string(at);
        const auto next = static_cast<std::uint8_t>(bytes[at + k]);
        const std::uint8_t low = k == 1 ? shape.second_low : std::uint8_t{0x80};
        const std::uint8_t high = k == 1 ? shape.second_high : std::uint8_t{0xBF};
        if (next < low || next > high)
            return invalid_sequence(k, at);
    }
    // Not reached: the valid prefix ends only where one of the cases above holds.
    return invalid_sequence(shape.length, at);
}

}  // namespace quarvel
