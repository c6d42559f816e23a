#pragma once
// Bytes as lowercase hexadecimal text: how protected passwords are stored and how random bytes
// become password and name characters.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

// Two digits from "0123456789abcdef" per byte, most significant first, in byte order; no
// prefix and no separators. Three bytes 00 0f ab give "000fab".
std::string encode_hex(std::span<const std::uint8_t> bytes);

// The bytes of hexadecimal text, two digits per byte from the start, digits 0-9, a-f and A-F;
// nothing for an odd length or any other character. "" gives no bytes.
std::optional<std::vector<std::uint8_t>> decode_hex(std::string_view text);

}  // namespace quarvel
