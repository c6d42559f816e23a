#include "windows/setup/account_password.h"

#include "windows/security/secure_random.h"
#include "windows/setup/hex_text.h"

namespace quarvel {

Result<std::string> generate_password() {
    const auto bytes = secure_random_bytes(32);
    if (!bytes)
        return std::unexpected(formatted_failure(
            "random_generation_failed", exit_code::internal,
            "Could not generate protected account credential: ", bytes.error(), "."));
    return std::string(kPasswordPrefix) + encode_hex(*bytes);
}

}  // namespace quarvel
