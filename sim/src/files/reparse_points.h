#pragma once
// Reparse points of the simulated host and the attributes the file calls report.
//
// A symbolic link on the host is a Windows symbolic link (IO_REPARSE_TAG_SYMLINK), a directory
// or a file one after its target. One whose target text ends in "/." is a directory junction
// (IO_REPARSE_TAG_MOUNT_POINT): that is how the test API makes junctions, and the suffix
// changes nothing on the host ("dir/." is "dir"). Any other file or directory is a reparse
// point when it carries the extended attribute "user.winsim.reparse_tag" (test API); the
// filter that owns such a tag is taken to be present, so the object opens as itself.

#include <winsim/types.h>

#include <optional>
#include <string>

namespace winsim {

inline constexpr DWORD kTagMountPoint = 0xA0000003;
inline constexpr DWORD kTagSymbolicLink = 0xA000000C;

struct ObjectAttributes {
    DWORD attributes = 0;
    DWORD reparse_tag = 0;  // meaningful with FILE_ATTRIBUTE_REPARSE_POINT
};

// The attributes of the name itself (a final link is not followed), or nothing with errno set
// when it is not there.
std::optional<ObjectAttributes> object_attributes(const std::string& host_path);

// The attributes of the object a descriptor holds (a link itself for an O_PATH descriptor of
// one): whatever has happened to the name since, they are that object's.
std::optional<ObjectAttributes> descriptor_attributes(int fd);

// Makes `link` a host symbolic link to `target` in the form of the given tag (junction or
// symbolic link). ERROR_SUCCESS or the Windows error.
DWORD make_link(const std::string& link, const std::string& target, DWORD tag);

// Marks an existing file or directory as a reparse point with `tag`.
DWORD mark_reparse_point(const std::string& host_path, DWORD tag);

}  // namespace winsim
