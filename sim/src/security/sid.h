#pragma once
// Security identifiers inside the simulated host: the binary layout of Windows (revision,
// sub-authority count, 6-byte big-endian authority, little-endian 32-bit sub-authorities) and
// the standard text form. Every part of the simulated host that reads or writes a SID uses
// these, so text and binary forms agree everywhere.

#include <winsim/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

using SidBytes = std::vector<BYTE>;

// The binary SID for the standard form ("S-1-5-32-544"; the S in either case; authority in
// decimal or as 0x followed by 12 hex digits) or for a two-letter alias of a well-known SID
// ("WD", "SY", "BA", ...). Nothing for malformed text.
std::optional<SidBytes> sid_from_text(std::string_view text);

// True when the bytes at `sid` start a SID of revision 1 with at most 15 sub-authorities.
bool is_valid_sid(const void* sid);

// 8 + 4 x sub-authority count; the caller has checked is_valid_sid.
std::size_t sid_length(const void* sid);

// The standard form of a valid binary SID: decimal authority below 2^32, otherwise 0x and 12
// upper-case hex digits, as Windows writes it.
std::string sid_text(const void* sid);

// The standard form of SID text, or nothing when it is not a SID.
std::optional<std::string> canonical_sid_text(std::string_view text);

// Two SID texts name the same SID (case of the S, aliases and authority spelling aside).
bool same_sid(std::string_view left, std::string_view right);

}  // namespace winsim
