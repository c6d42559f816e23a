#include "windows/runner/canonical_path.h"

#include "platform/final_path.h"
#include "platform/unique_resource.h"

namespace quarvel {

std::expected<WideString, std::uint32_t> canonical_path(WideView path) {
    const WideString terminated(path);
    // Backup semantics open directories too; no access right is needed to ask for the name.
    // A location that is itself a link is not followed: its canonical path is the link's own,
    // which the grant then refuses, because whoever may replace a location by a link between
    // runs would otherwise choose where the run's access rules land.
    UniqueHandle handle(CreateFileW(
        terminated.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle)
        return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
    // The release revokes on exactly the text that was granted.
    return final_path_of(handle.get());
}

}  // namespace quarvel
