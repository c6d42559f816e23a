#include "windows/runner/canonical_path.h"

#include <vector>

#include "platform/unique_resource.h"

namespace quarvel {

std::expected<WideString, std::uint32_t> canonical_path(WideView path) {
    const auto last_error = [] { return static_cast<std::uint32_t>(GetLastError()); };
    const WideString terminated(path);
    // Backup semantics open directories too; no access right is needed to ask for the name.
    UniqueHandle handle(CreateFileW(terminated.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle)
        return std::unexpected(last_error());
    // The verbatim form (\\?\C:\...) is kept as Windows gives it: it is what the handle really
    // names after every link and letter case was resolved, it has no length limit for deep
    // workspaces, and the release revokes on exactly the text that was granted.
    std::vector<WCHAR> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle.get(), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return std::unexpected(last_error());
        if (length < buffer.size())
            return WideString(buffer.data(), length);
        buffer.resize(length);  // the size it needs, the terminating zero included
    }
}

}  // namespace quarvel
