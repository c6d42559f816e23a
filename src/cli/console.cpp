#include "cli/console.h"

#include <algorithm>

#include "platform/unique_resource.h"
#include "platform/win32.h"

namespace quarvel {
namespace {

std::expected<void, std::uint32_t> write_all(DWORD which, std::string_view bytes) {
    // The standard handle belongs to the process; it is borrowed, never closed here.
    const HANDLE handle = GetStdHandle(which);
    if (!is_valid_handle(handle))
        return {};
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr))
            return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
        if (written == 0)
            return std::unexpected(static_cast<std::uint32_t>(ERROR_NO_DATA));
        bytes.remove_prefix(written);
    }
    // A console or pipe has nothing to flush; FlushFileBuffers only matters for a file.
    return {};
}

}  // namespace

std::expected<void, std::uint32_t> write_standard_output(std::string_view bytes) {
    return write_all(STD_OUTPUT_HANDLE, bytes);
}

std::expected<void, std::uint32_t> write_standard_error(std::string_view bytes) {
    return write_all(STD_ERROR_HANDLE, bytes);
}

void print_error_line(const Failure& failure) {
    (void)write_standard_error(error_line(failure) + "\n");
}

}  // namespace quarvel
