#pragma once
// SHA-256 and HMAC-SHA-256 (FIPS 180-4, RFC 2104) for the simulated host's data protection.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace winsim {

using Digest = std::array<std::uint8_t, 32>;

Digest sha256(std::span<const std::uint8_t> data);

Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message);

// Compares without an early exit, as a seal check should.
bool equal_digests(std::span<const std::uint8_t> left, std::span<const std::uint8_t> right);

}  // namespace winsim
