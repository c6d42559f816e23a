#include "windows/security/reparse_point.h"

namespace quarvel {
namespace {

// The name-surrogate bit of a reparse tag: the reparse point stands for another name
// (directory junctions, symbolic links), as opposed to data a filter serves in place.
constexpr DWORD kNameSurrogateTagBit = 0x20000000;

}  // namespace

std::expected<bool, std::uint32_t> is_name_surrogate_reparse_point(HANDLE object) {
    // Attributes and tag from one read of the open object, which FindFirstFileW cannot
    // promise: it reports a directory entry of the parent, needs the parent to be listable,
    // and has no entry at all for a drive root.
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!GetFileInformationByHandleEx(object, FileAttributeTagInfo, &information,
                                      sizeof information))
        return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
    return (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (information.ReparseTag & kNameSurrogateTagBit) != 0;
}

}  // namespace quarvel
