#include "windows/security/pinned_path.h"

#include "platform/final_path.h"
#include "windows/security/reparse_point.h"

namespace quarvel {

Result<PinnedPath> pin_path(WideView path, const PinMessages& messages) {
    const WideString name(path);
    // Reading data, not only attributes: a handle that asks for attributes alone takes no part
    // in sharing, and would not keep anyone from deleting or renaming the object.
    UniqueHandle object(CreateFileW(name.c_str(), FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
    if (!object)
        return std::unexpected(
            io_failure(messages.inspect_context, static_cast<std::uint32_t>(GetLastError())));
    const auto link = is_name_surrogate_reparse_point(object.get());
    if (!link)
        return std::unexpected(io_failure(messages.inspect_context, link.error()));
    if (*link)
        return std::unexpected(
            fixed_failure("reparse_path_rejected", messages.link_rejected, exit_code::internal));
    auto final_path = final_path_of(object.get());
    if (!final_path)
        return std::unexpected(io_failure(messages.inspect_context, final_path.error()));
    return PinnedPath(std::move(object), std::move(*final_path));
}

}  // namespace quarvel
