#include "files/reparse_points.h"

#include <winsim/files.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <climits>

#include "machine/fd_object.h"

namespace winsim {
namespace {

constexpr const char* kTagAttribute = "user.winsim.reparse_tag";
constexpr std::string_view kJunctionSuffix = "/.";

bool is_read_only(const struct stat& status) {
    return S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0;
}

std::optional<DWORD> marked_tag(const std::string& host_path) {
    DWORD tag = 0;
    if (::lgetxattr(host_path.c_str(), kTagAttribute, &tag, sizeof tag) != sizeof tag)
        return std::nullopt;
    return tag;
}

// A link's attributes from its target text (read by `read_target`) and whether what it leads
// to, seen from `host_path`, is a directory.
template <class ReadTarget>
ObjectAttributes link_attributes(const std::string& host_path, ReadTarget read_target) {
    char target[PATH_MAX];
    const ssize_t length = read_target(target, sizeof target - 1);
    const std::string_view text(target, length > 0 ? static_cast<std::size_t>(length) : 0);
    struct stat pointed {};
    const bool directory = ::stat(host_path.c_str(), &pointed) == 0 && S_ISDIR(pointed.st_mode);
    return {FILE_ATTRIBUTE_REPARSE_POINT |
                (directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE),
            text.ends_with(kJunctionSuffix) ? kTagMountPoint : kTagSymbolicLink};
}

ObjectAttributes plain_attributes(const struct stat& status, std::optional<DWORD> tag) {
    ObjectAttributes found;
    found.attributes =
        S_ISDIR(status.st_mode)
            ? FILE_ATTRIBUTE_DIRECTORY
            : FILE_ATTRIBUTE_ARCHIVE | (is_read_only(status) ? FILE_ATTRIBUTE_READONLY : 0u);
    if (tag) {
        found.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        found.reparse_tag = *tag;
    }
    return found;
}

}  // namespace

std::optional<ObjectAttributes> object_attributes(const std::string& host_path) {
    struct stat status {};
    if (::lstat(host_path.c_str(), &status) != 0)
        return std::nullopt;
    if (S_ISLNK(status.st_mode))
        return link_attributes(host_path, [&](char* target, std::size_t size) {
            return ::readlink(host_path.c_str(), target, size);
        });
    return plain_attributes(status, marked_tag(host_path));
}

std::optional<ObjectAttributes> descriptor_attributes(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    const std::string held = "/proc/self/fd/" + std::to_string(fd);
    if (S_ISLNK(status.st_mode)) {
        // The link's own name, for what it leads to; its tag from the descriptor itself.
        char name[PATH_MAX];
        const ssize_t length = ::readlink(held.c_str(), name, sizeof name - 1);
        const std::string path(name, length > 0 ? static_cast<std::size_t>(length) : 0);
        return link_attributes(path, [&](char* target, std::size_t size) {
            return ::readlinkat(fd, "", target, size);
        });
    }
    DWORD tag = 0;
    const bool tagged = ::fgetxattr(fd, kTagAttribute, &tag, sizeof tag) == sizeof tag;
    return plain_attributes(status, tagged ? std::optional<DWORD>(tag) : std::nullopt);
}

DWORD make_link(const std::string& link, const std::string& target, DWORD tag) {
    const std::string text = tag == kTagMountPoint ? target + std::string(kJunctionSuffix) : target;
    if (::symlink(text.c_str(), link.c_str()) != 0)
        return windows_error_from_errno(errno);
    return ERROR_SUCCESS;
}

DWORD mark_reparse_point(const std::string& host_path, DWORD tag) {
    if (::lsetxattr(host_path.c_str(), kTagAttribute, &tag, sizeof tag, 0) != 0)
        return windows_error_from_errno(errno);
    return ERROR_SUCCESS;
}

}  // namespace winsim
