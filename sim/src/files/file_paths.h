#pragma once
// Where the file calls of the simulated host find a Windows path on the host.
//
// Drives are folders of the machine directory (C:\ is <machine>/C, created on first use; any
// other letter exists when its folder does), except Z:\, which is the host's own root as under
// Wine. A relative, rooted (\dir) or drive-relative (C:dir) path is completed from the
// process's current directory, whose Windows form is its drive folder's path or else Z:.
// "." and ".." are resolved on the text, as Windows does before it looks at the disk.
// Names are matched to the names on disk without regard to case, as NTFS matches them: a
// component that does not exist as given takes the name of an entry that differs only in
// case (the smallest such name in byte order when there are several).

#include <winsim/types.h>

#include <expected>
#include <string>
#include <string_view>

namespace winsim {

// The host path, or the error Windows gives for such a name: ERROR_PATH_NOT_FOUND for an empty
// path, a drive that does not exist, and the forms the simulated host has no place for (UNC
// shares, devices, volume names); ERROR_INVALID_NAME for a component with a character Windows
// forbids in names (control characters and < > : " | ? *).
std::expected<std::string, DWORD> host_path_for(std::u16string_view windows_path);

// The drive root that holds a host path with no links left in it (a drive folder of the
// machine, or "/" for everything else, which Windows sees on Z:).
std::string drive_root_of(const std::string& resolved_host_path);

// The Windows form of such a host path: "C:\dir\name" inside a drive folder, "Z:\..." else.
std::u16string windows_form_of(const std::string& resolved_host_path);

// Whether two names are the same name to NTFS: equal after upper-casing each UTF-16 unit.
bool same_file_name(std::u16string_view left, std::u16string_view right);

// The Windows error for a host path that is not there: ERROR_FILE_NOT_FOUND when its folder
// exists, ERROR_PATH_NOT_FOUND when the folder itself is missing or is not a directory.
DWORD missing_file_error(const std::string& host_path);

// Whether a host directory holds nothing but "." and "..": false when it cannot be listed. The
// descriptor form lists the directory a descriptor is open on, and leaves the descriptor open.
bool is_empty_directory(int directory_fd);
bool is_empty_directory(const std::string& host_path);

}  // namespace winsim
