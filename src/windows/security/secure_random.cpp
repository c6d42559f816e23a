#include "windows/security/secure_random.h"

#include <limits>
#include <vector>

#include "platform/win32.h"

namespace quarvel {

Result<std::string> secure_random_hex(std::size_t byte_count) {
    // The generator takes a 32-bit length; a larger request would be filled only in part and
    // the rest would pass for random. Refused the way the generator refuses a bad length.
    if (byte_count > std::numeric_limits<ULONG>::max()) {
        constexpr std::int32_t kStatusInvalidParameter = static_cast<std::int32_t>(0xC000000D);
        return std::unexpected(formatted_failure(
            "random_generation_failed", exit_code::internal,
            "Could not generate secure random value: ", kStatusInvalidParameter, "."));
    }
    std::vector<UCHAR> bytes(byte_count);
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
        return std::unexpected(formatted_failure(
            "random_generation_failed", exit_code::internal,
            "Could not generate secure random value: ", static_cast<std::int32_t>(status), "."));
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(byte_count * 2);
    for (const UCHAR byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

}  // namespace quarvel
