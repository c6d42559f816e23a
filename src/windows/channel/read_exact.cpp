#include "windows/channel/read_exact.h"

#include <algorithm>

namespace quarvel {
namespace {

Failure read_failure(DWORD error) {
    return formatted_failure(error == ERROR_BROKEN_PIPE ? "ipc_closed" : "ipc_read_failed",
                             exit_code::internal, "Protected communication channel closed: ", error,
                             ".");
}

}  // namespace

Result<void> read_exact(HANDLE handle, std::span<std::uint8_t> buffer) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const auto wanted =
            static_cast<DWORD>(std::min<std::size_t>(buffer.size() - filled, 0x7FFFFFFF));
        DWORD got = 0;
        // A read that succeeds with nothing leaves the last error alone; clearing it first
        // keeps an unrelated older error from being reported as the reason.
        SetLastError(ERROR_SUCCESS);
        const BOOL ok = ReadFile(handle, buffer.data() + filled, wanted, &got, nullptr);
        if (!ok || got == 0)
            return std::unexpected(read_failure(GetLastError()));
        filled += got;
    }
    return {};
}

}  // namespace quarvel
