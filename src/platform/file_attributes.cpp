#include "platform/file_attributes.h"

#include "platform/unique_resource.h"

namespace quarvel {

std::optional<DWORD> attributes_following_links(WideView path) {
    const WideString terminated(path);
    const DWORD attributes = GetFileAttributesW(terminated.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        UniqueHandle target(CreateFileW(terminated.c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
        if (!target)
            return std::nullopt;
    }
    return attributes;
}

bool is_not_found_error(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace quarvel
