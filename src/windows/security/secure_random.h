#pragma once
// Unguessable names: random bytes from the system generator as lowercase hexadecimal text.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "cli/failure.h"

namespace quarvel {

// byte_count bytes from the system-preferred generator (BCryptGenRandom without an algorithm
// handle), or the negative NTSTATUS it answered. The generator takes a 32-bit length; a longer
// request is refused up front with STATUS_INVALID_PARAMETER, the generator's own answer to a
// bad length, rather than filled only in part with the rest passing for random.
std::expected<std::vector<std::uint8_t>, std::int32_t> secure_random_bytes(std::size_t byte_count);

// 2 x byte_count characters from "0123456789abcdef", or random_generation_failed with the
// generator's NTSTATUS as a signed decimal number.
Result<std::string> secure_random_hex(std::size_t byte_count);

}  // namespace quarvel
