#include "platform/directory_tree.h"

#include <vector>

#include "platform/win32.h"
#include "platform/windows_path.h"

namespace quarvel {
namespace {

bool is_not_found(DWORD error) {
    return error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool is_existing_directory(WideView path) {
    const WideString name(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::expected<void, std::uint32_t> create_directory_tree(WideView directory) {
    // Up from the directory to the nearest ancestor that exists or can be made...
    std::vector<WideString> missing;
    WideString current(directory);
    while (!current.empty()) {
        if (CreateDirectoryW(current.c_str(), nullptr))
            break;
        const DWORD error = GetLastError();
        if (!is_not_found(error)) {
            // Already there (ERROR_ALREADY_EXISTS, or ERROR_ACCESS_DENIED for a drive's root).
            if (is_existing_directory(current))
                break;
            return std::unexpected(static_cast<std::uint32_t>(error));
        }
        missing.push_back(current);
        auto parent = parent_directory(current);
        if (!parent || parent->empty())
            return std::unexpected(static_cast<std::uint32_t>(error));
        current = std::move(*parent);
    }
    // ...then down again, making each missing one.
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (CreateDirectoryW(it->c_str(), nullptr))
            continue;
        const DWORD error = GetLastError();
        if (is_existing_directory(*it))
            continue;
        return std::unexpected(static_cast<std::uint32_t>(error));
    }
    return {};
}

}  // namespace quarvel
