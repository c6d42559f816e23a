#pragma once
// The per-run capability: a SID nobody else holds, to which a run grants its writable locations
// and which the command's token carries as a restricting SID.

#include <string>

#include "cli/failure.h"

namespace quarvel {

// "S-1-5-21-" and four unsigned 32-bit numbers in decimal, made from 16 random bytes, each number
// four consecutive bytes read most significant first. The generator's failure passes through.
Result<std::string> make_capability_sid();

// The SID text for 32 hexadecimal digits, cut into four groups of eight; capability_sid_failed
// (70) with the parse error's text when a group is not hexadecimal.
Result<std::string> capability_sid_from_hex(std::string_view hex_digits);

}  // namespace quarvel
