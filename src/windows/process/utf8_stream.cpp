#include "windows/process/utf8_stream.h"

#include <cstdint>

namespace quarvel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

struct SequenceShape {
    std::size_t length = 0;  // 0: not a lead byte
    std::uint8_t second_low = 0x80;
    std::uint8_t second_high = 0xBF;
};

// The well-formed sequences of the Unicode standard (table 3-7): the lead byte fixes the
// length and the range of the second byte; later bytes are 80..BF.
SequenceShape shape_of(std::uint8_t lead) {
    if (lead < 0x80)
        return {1};
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2};
    if (lead == 0xE0)
        return {3, 0xA0, 0xBF};
    if (lead == 0xED)
        return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF)
        return {3};
    if (lead == 0xF0)
        return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3)
        return {4};
    if (lead == 0xF4)
        return {4, 0x80, 0x8F};
    return {};
}

enum class Step { complete, invalid, incomplete };

// Looks at the sequence starting at `at`; `length` receives how many bytes it covers (the
// sequence, the maximal invalid subpart, or what is there of an incomplete one).
Step examine(std::string_view bytes, std::size_t at, std::size_t& length) {
    const auto shape = shape_of(static_cast<std::uint8_t>(bytes[at]));
    if (shape.length == 0) {
        length = 1;
        return Step::invalid;
    }
    for (std::size_t k = 1; k < shape.length; ++k) {
        if (at + k >= bytes.size()) {
            length = k;
            return Step::incomplete;
        }
        const auto byte = static_cast<std::uint8_t>(bytes[at + k]);
        const std::uint8_t low = k == 1 ? shape.second_low : 0x80;
        const std::uint8_t high = k == 1 ? shape.second_high : 0xBF;
        if (byte < low || byte > high) {
            length = k;
            return Step::invalid;
        }
    }
    length = shape.length;
    return Step::complete;
}

}  // namespace

std::string Utf8Stream::decode(std::string_view piece) {
    std::string bytes = std::move(held_);
    held_.clear();
    bytes.append(piece);
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t length = 0;
        switch (examine(bytes, at, length)) {
            case Step::complete:
                text.append(bytes, at, length);
                break;
            case Step::invalid:
                text.append(kReplacement);
                break;
            case Step::incomplete:
                held_.assign(bytes, at, length);
                break;
        }
        at += length;
    }
    return text;
}

std::string Utf8Stream::finish() {
    if (held_.empty())
        return {};
    held_.clear();
    return std::string(kReplacement);
}

}  // namespace quarvel
