#include "windows/process/token_information.h"

#include <string>

#include "windows/security/os_failure.h"

namespace quarvel {

Result<TokenInformation> read_token_information(HANDLE token,
                                                TOKEN_INFORMATION_CLASS information_class,
                                                std::string_view code, std::string_view subject) {
    DWORD needed = 0;
    // Fails by design (no buffer); only the length matters.
    GetTokenInformation(token, information_class, nullptr, 0, &needed);
    if (needed == 0)
        return std::unexpected(os_failure(code, "Could not size " + std::string(subject) + "."));

    TokenInformation information;
    information.storage.assign((needed + 7) / 8, 0);
    if (!GetTokenInformation(token, information_class, information.storage.data(), needed,
                             &information.length))
        return std::unexpected(os_failure(code, "Could not read " + std::string(subject) + "."));
    return information;
}

}  // namespace quarvel
