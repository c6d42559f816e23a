#pragma once
// Bytes as lowercase hexadecimal text: how protected passwords are stored and how random bytes
// become password and name characters.

#include <cstdint>
#include <span>
#include <string>

namespace quarvel {

// Two digits from "0123456789abcdef" per byte, most significant first, in byte order; no
// prefix and no separators. Three bytes 00 0f ab give "000fab".
std::string encode_hex(std::span<const std::uint8_t> bytes);

}  // namespace quarvel
