#include "windows/setup/account_password.h"

#include <array>

#include "platform/win32.h"
#include "windows/setup/hex_text.h"

namespace quarvel {

Result<std::string> generate_password() {
    std::array<UCHAR, 32> bytes{};
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0)
        return std::unexpected(formatted_failure(
            "random_generation_failed", exit_code::internal,
            "Could not generate protected account credential: ", static_cast<std::int32_t>(status),
            "."));
    return std::string(kPasswordPrefix) + encode_hex(bytes);
}

}  // namespace quarvel
