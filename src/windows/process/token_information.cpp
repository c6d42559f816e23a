#include "windows/process/token_information.h"

namespace quarvel {
namespace {

// os_failure's form, for a message that is composed after the error was read: composing it
// allocates, and nothing may run between the failing call and reading its error.
Failure token_failure(std::string_view code, std::string_view verb, std::string_view subject,
                      DWORD last_error) {
    return formatted_failure(code, exit_code::internal, verb, subject, ". Windows error ",
                             static_cast<std::uint32_t>(last_error), ".");
}

}  // namespace

std::size_t token_buffer_words(DWORD length) {
    // In 64 bits: a length near 2^32 must not wrap round to a small buffer.
    return static_cast<std::size_t>((std::uint64_t{length} + 7) / 8);
}

Result<TokenInformation> read_token_information(HANDLE token,
                                                TOKEN_INFORMATION_CLASS information_class,
                                                std::string_view code, std::string_view subject) {
    DWORD needed = 0;
    // Fails by design (no buffer); only the length matters.
    GetTokenInformation(token, information_class, nullptr, 0, &needed);
    if (needed == 0)
        return std::unexpected(token_failure(code, "Could not size ", subject, GetLastError()));

    TokenInformation information;
    information.storage.assign(token_buffer_words(needed), 0);
    if (!GetTokenInformation(token, information_class, information.storage.data(), needed,
                             &information.length))
        return std::unexpected(token_failure(code, "Could not read ", subject, GetLastError()));
    return information;
}

}  // namespace quarvel
