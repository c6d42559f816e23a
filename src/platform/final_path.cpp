#include "platform/final_path.h"

#include <vector>

namespace quarvel {

std::expected<WideString, std::uint32_t> final_path_of(HANDLE object) {
    // The verbatim form (\\?\C:\...) is kept as Windows gives it: it is what the handle really
    // names, and it has no length limit for deep workspaces.
    std::vector<WCHAR> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(object, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
        if (length < buffer.size())
            return WideString(buffer.data(), length);
        buffer.resize(length);  // the size it needs, the terminating zero included
    }
}

}  // namespace quarvel
