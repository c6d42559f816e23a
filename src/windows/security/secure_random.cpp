#include "windows/security/secure_random.h"

#include <limits>
#include <vector>

#include "platform/win32.h"
#include "windows/setup/hex_text.h"

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
    return encode_hex(bytes);
}

}  // namespace quarvel
