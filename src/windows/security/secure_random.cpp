#include "windows/security/secure_random.h"

#include <limits>

#include "platform/win32.h"
#include "windows/setup/hex_text.h"

namespace quarvel {

std::expected<std::vector<std::uint8_t>, std::int32_t> secure_random_bytes(std::size_t byte_count) {
    if (byte_count > std::numeric_limits<ULONG>::max())
        return std::unexpected(static_cast<std::int32_t>(0xC000000D));  // STATUS_INVALID_PARAMETER
    std::vector<std::uint8_t> bytes(byte_count);
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0)
        return std::unexpected(static_cast<std::int32_t>(status));
    return bytes;
}

Result<std::string> secure_random_hex(std::size_t byte_count) {
    const auto bytes = secure_random_bytes(byte_count);
    if (!bytes)
        return std::unexpected(
            formatted_failure("random_generation_failed", exit_code::internal,
                              "Could not generate secure random value: ", bytes.error(), "."));
    return encode_hex(*bytes);
}

}  // namespace quarvel
