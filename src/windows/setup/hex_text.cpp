#include "windows/setup/hex_text.h"

namespace quarvel {

std::string encode_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.resize(bytes.size() * 2);
    std::size_t at = 0;
    for (const std::uint8_t byte : bytes) {
        text[at++] = kDigits[byte >> 4];
        text[at++] = kDigits[byte & 0x0F];
    }
    return text;
}

namespace {

std::optional<std::uint8_t> digit_value(char digit) {
    if (digit >= '0' && digit <= '9')
        return static_cast<std::uint8_t>(digit - '0');
    if (digit >= 'a' && digit <= 'f')
        return static_cast<std::uint8_t>(digit - 'a' + 10);
    if (digit >= 'A' && digit <= 'F')
        return static_cast<std::uint8_t>(digit - 'A' + 10);
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decode_hex(std::string_view text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t at = 0; at < text.size(); at += 2) {
        const auto high = digit_value(text[at]);
        const auto low = digit_value(text[at + 1]);
        if (!high || !low)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
    }
    return bytes;
}

}  // namespace quarvel
