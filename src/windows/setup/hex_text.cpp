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

}  // namespace quarvel
