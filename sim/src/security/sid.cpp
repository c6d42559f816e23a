#include "security/sid.h"

#include <winsim/security.h>

#include <array>
#include <charconv>

namespace winsim {
namespace {

struct SidAlias {
    std::string_view alias;
    std::string_view text;
};

// The SDDL aliases of the well-known SIDs the program and its tests meet.
constexpr std::array kAliases = {
    SidAlias{"WD", "S-1-1-0"},      SidAlias{"CO", "S-1-3-0"},      SidAlias{"CG", "S-1-3-1"},
    SidAlias{"NU", "S-1-5-2"},      SidAlias{"IU", "S-1-5-4"},      SidAlias{"SU", "S-1-5-6"},
    SidAlias{"AN", "S-1-5-7"},      SidAlias{"AU", "S-1-5-11"},     SidAlias{"RC", "S-1-5-12"},
    SidAlias{"SY", "S-1-5-18"},     SidAlias{"LS", "S-1-5-19"},     SidAlias{"NS", "S-1-5-20"},
    SidAlias{"BA", "S-1-5-32-544"}, SidAlias{"BU", "S-1-5-32-545"}, SidAlias{"BG", "S-1-5-32-546"},
    SidAlias{"LW", "S-1-16-4096"},  SidAlias{"ME", "S-1-16-8192"},  SidAlias{"HI", "S-1-16-12288"},
    SidAlias{"SI", "S-1-16-16384"},
};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal number of at most `limit`, digits only (no sign, no blanks).
std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t limit) {
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!is_digit(c))
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> parse_authority(std::string_view text) {
    constexpr std::uint64_t kAuthorityLimit = 0xFFFFFFFFFFFFull;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string_view digits = text.substr(2);
        if (digits.size() > 12)
            return std::nullopt;
        std::uint64_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (error != std::errc{} || end != digits.data() + digits.size())
            return std::nullopt;
        return value;
    }
    return parse_decimal(text, kAuthorityLimit);
}

std::vector<std::string_view> split_on_dashes(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dash = text.find('-', start);
        parts.push_back(text.substr(start, dash == std::string_view::npos ? dash : dash - start));
        if (dash == std::string_view::npos)
            return parts;
        start = dash + 1;
    }
}

std::optional<SidBytes> parse_standard_form(std::string_view text) {
    const auto parts = split_on_dashes(text);
    // "S", revision, authority, then up to 15 sub-authorities.
    if (parts.size() < 3 || parts.size() > 3 + SID_MAX_SUB_AUTHORITIES)
        return std::nullopt;
    if (parts[0] != "S" && parts[0] != "s")
        return std::nullopt;
    const auto revision = parse_decimal(parts[1], 0xFF);
    if (!revision || *revision != SID_REVISION)
        return std::nullopt;
    const auto authority = parse_authority(parts[2]);
    if (!authority)
        return std::nullopt;

    const std::size_t count = parts.size() - 3;
    SidBytes sid(8 + 4 * count);
    sid[0] = SID_REVISION;
    sid[1] = static_cast<BYTE>(count);
    for (int k = 0; k < 6; ++k)
        sid[2 + k] = static_cast<BYTE>(*authority >> (8 * (5 - k)));
    for (std::size_t k = 0; k < count; ++k) {
        const auto value = parse_decimal(parts[3 + k], 0xFFFFFFFFull);
        if (!value)
            return std::nullopt;
        for (int b = 0; b < 4; ++b)
            sid[8 + 4 * k + b] = static_cast<BYTE>(*value >> (8 * b));
    }
    return sid;
}

}  // namespace

std::optional<SidBytes> sid_from_text(std::string_view text) {
    for (const auto& known : kAliases)
        if (text == known.alias)
            return parse_standard_form(known.text);
    return parse_standard_form(text);
}

bool is_valid_sid(const void* sid) {
    if (sid == nullptr)
        return false;
    const auto* bytes = static_cast<const BYTE*>(sid);
    return bytes[0] == SID_REVISION && bytes[1] <= SID_MAX_SUB_AUTHORITIES;
}

std::size_t sid_length(const void* sid) {
    return 8 + 4 * static_cast<std::size_t>(static_cast<const BYTE*>(sid)[1]);
}

std::string sid_text(const void* sid) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    std::uint64_t authority = 0;
    for (int k = 0; k < 6; ++k)
        authority = (authority << 8) | bytes[2 + k];
    std::string text = "S-" + std::to_string(bytes[0]) + "-";
    if (authority <= 0xFFFFFFFFull) {
        text += std::to_string(authority);
    } else {
        static constexpr char kHex[] = "0123456789ABCDEF";
        text += "0x";
        for (int k = 0; k < 6; ++k) {
            text += kHex[bytes[2 + k] >> 4];
            text += kHex[bytes[2 + k] & 0xF];
        }
    }
    for (std::size_t k = 0; k < bytes[1]; ++k) {
        const BYTE* field = bytes + 8 + 4 * k;
        const DWORD value =
            field[0] | (field[1] << 8) | (field[2] << 16) | (static_cast<DWORD>(field[3]) << 24);
        // Two appends: GCC 12 at -O3 takes "-" + text for an overlapping copy (-Wrestrict).
        text += '-';
        text += std::to_string(value);
    }
    return text;
}

std::optional<std::string> canonical_sid_text(std::string_view text) {
    const auto sid = sid_from_text(text);
    if (!sid)
        return std::nullopt;
    return sid_text(sid->data());
}

bool same_sid(std::string_view left, std::string_view right) {
    if (left == right)
        return true;
    const auto a = sid_from_text(left);
    const auto b = sid_from_text(right);
    return a && b && *a == *b;
}

}  // namespace winsim
