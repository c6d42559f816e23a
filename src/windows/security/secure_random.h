#pragma once
// Unguessable names: random bytes from the system generator as lowercase hexadecimal text.

#include <cstddef>
#include <string>

#include "cli/failure.h"

namespace quarvel {

// 2 x byte_count characters from "0123456789abcdef", or random_generation_failed with the
// generator's NTSTATUS as a signed decimal number.
Result<std::string> secure_random_hex(std::size_t byte_count);

}  // namespace quarvel
