#include "windows/security/os_failure.h"

namespace quarvel {

Failure os_failure(std::string_view code, std::string_view message) {
    const DWORD last_error = GetLastError();
    return formatted_failure(code, exit_code::internal, message, " Windows error ",
                             static_cast<std::uint32_t>(last_error), ".");
}

Result<UniqueHandle> checked_handle(HANDLE handle, std::string_view code,
                                    std::string_view message) {
    if (!is_valid_handle(handle))
        return std::unexpected(os_failure(code, message));
    return UniqueHandle(handle);
}

}  // namespace quarvel
