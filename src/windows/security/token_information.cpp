#include "windows/security/token_information.h"

#include <string>

#include "windows/security/os_failure.h"

namespace quarvel {

std::size_t token_buffer_words(DWORD length) {
    // In 64 bits: a length near 2^32 must not wrap round to a small buffer.
    return static_cast<std::size_t>((std::uint64_t{length} + 7) / 8);
}

namespace {

Result<TokenInformation> read_with_messages(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                                            std::string_view code, std::string_view size_message,
                                            std::string_view read_message) {
    DWORD needed = 0;
    // Fails by design (no buffer); only the length matters.
    GetTokenInformation(token, information_class, nullptr, 0, &needed);
    if (needed == 0)
        return std::unexpected(os_failure(code, size_message));

    TokenInformation information;
    information.storage.assign(token_buffer_words(needed), 0);
    if (!GetTokenInformation(token, information_class, information.storage.data(), needed,
                             &information.length))
        return std::unexpected(os_failure(code, read_message));
    return information;
}

}  // namespace

Result<TokenInformation> read_token_information(HANDLE token,
                                                TOKEN_INFORMATION_CLASS information_class,
                                                std::string_view code, std::string_view subject) {
    return read_with_messages(token, information_class, code,
                              "Could not size " + std::string(subject) + ".",
                              "Could not read " + std::string(subject) + ".");
}

Result<TokenInformation> read_token_information_or(HANDLE token,
                                                   TOKEN_INFORMATION_CLASS information_class,
                                                   std::string_view code,
                                                   std::string_view message) {
    return read_with_messages(token, information_class, code, message, message);
}

}  // namespace quarvel
