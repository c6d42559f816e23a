#include "windows/runner/capability_sid.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>

#include "windows/security/secure_random.h"

namespace quarvel {

Result<std::string> capability_sid_from_hex(std::string_view hex_digits) {
    constexpr std::size_t kGroupDigits = 8;
    constexpr std::size_t kGroups = 4;
    std::string sid = "S-1-5-21";
    for (std::size_t group = 0; group < kGroups; ++group) {
        const std::string_view digits = hex_digits.substr(
            std::min(group * kGroupDigits, hex_digits.size()), kGroupDigits);
        std::uint32_t number = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
        // Eight hexadecimal digits always fit in 32 bits: only a digit can be wrong.
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty())
            return std::unexpected(fixed_failure("capability_sid_failed",
                                                 "invalid digit found in string",
                                                 exit_code::internal));
        sid += '-';
        sid += std::to_string(number);
    }
    return sid;
}

Result<std::string> make_capability_sid() {
    const auto random = secure_random_hex(16);
    if (!random)
        return std::unexpected(random.error());
    return capability_sid_from_hex(*random);
}

}  // namespace quarvel
