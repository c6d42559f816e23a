#include "windows/security/reparse_point.h"

#include "platform/unique_resource.h"

namespace quarvel {
namespace {

// The name-surrogate bit of a reparse tag: the reparse point stands for another name
// (directory junctions, symbolic links), as opposed to data a filter serves in place.
constexpr DWORD kNameSurrogateTagBit = 0x20000000;

}  // namespace

std::expected<bool, std::uint32_t> is_name_surrogate_reparse_point(WideView path) {
    const WideString name(path);
    // The object itself, opened without following a final link and with backup semantics so
    // that a directory opens too. Its attributes and tag then come from one read of one
    // object, which FindFirstFileW cannot promise: it reports a directory entry of the
    // parent, needs the parent to be listable, and has no entry at all for a drive root.
    UniqueHandle object(
        CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!object)
        return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!GetFileInformationByHandleEx(object.get(), FileAttributeTagInfo, &information,
                                      sizeof information))
        return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
    return (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (information.ReparseTag & kNameSurrogateTagBit) != 0;
}

Result<void> refuse_link(WideView path, std::string_view inspect_context,
                         std::string_view rejected) {
    const auto link = is_name_surrogate_reparse_point(path);
    if (!link)
        return std::unexpected(io_failure(inspect_context, link.error()));
    if (*link)
        return std::unexpected(
            fixed_failure("reparse_path_rejected", rejected, exit_code::internal));
    return {};
}

}  // namespace quarvel
