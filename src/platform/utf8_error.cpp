#include "platform/utf8_error.h"

#include <cstdint>

namespace quarvel {
namespace {

bool is_continuation(std::uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

// The lowest and highest second byte a lead byte allows: overlong forms, surrogates and
// values above U+10FFFF are ruled out here, so later bytes need only be continuations.
struct Lead {
    std::size_t width;
    std::uint8_t second_low;
    std::uint8_t second_high;
};

std::optional<Lead> lead_of(std::uint8_t byte) {
    if (byte >= 0xC2 && byte <= 0xDF)
        return Lead{2, 0x80, 0xBF};
    if (byte == 0xE0)
        return Lead{3, 0xA0, 0xBF};
    if ((byte >= 0xE1 && byte <= 0xEC) || byte == 0xEE || byte == 0xEF)
        return Lead{3, 0x80, 0xBF};
    if (byte == 0xED)
        return Lead{3, 0x80, 0x9F};
    if (byte == 0xF0)
        return Lead{4, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3)
        return Lead{4, 0x80, 0xBF};
    if (byte == 0xF4)
        return Lead{4, 0x80, 0x8F};
    return std::nullopt;
}

std::string invalid_sequence(std::size_t length, std::size_t index) {
    return "invalid utf-8 sequence of " + std::to_string(length) + " bytes from index " +
           std::to_string(index);
}

}  // namespace

std::optional<std::string> utf8_error_description(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto first = static_cast<std::uint8_t>(bytes[at]);
        if (first < 0x80) {
            ++at;
            continue;
        }
        const auto lead = lead_of(first);
        if (!lead)
            return invalid_sequence(1, at);
        for (std::size_t k = 1; k < lead->width; ++k) {
            if (at + k >= bytes.size())
                return "incomplete utf-8 byte sequence from index " + std::to_string(at);
            const auto next = static_cast<std::uint8_t>(bytes[at + k]);
            const bool fits = k == 1 ? next >= lead->second_low && next <= lead->second_high
                                     : is_continuation(next);
            if (!fits)
                return invalid_sequence(k, at);
        }
        at += lead->width;
    }
    return std::nullopt;
}

}  // namespace quarvel
