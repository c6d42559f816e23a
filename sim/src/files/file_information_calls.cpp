// kernel32's calls that describe a file: extended attributes, the attribute and reparse tag of
// a handle, and a handle's final path; and the one that changes what a handle's close does,
// its file's disposition.

#include <winsim/files.h>
#include <winsim/kernel.h>
#include <winsim/security.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include "files/file_access.h"
#include "files/file_object.h"
#include "files/file_paths.h"
#include "files/file_security.h"
#include "files/file_times.h"
#include "files/reparse_points.h"
#include "files/share_access.h"
#include "machine/faults.h"
#include "machine/fd_object.h"
#include "machine/object.h"

namespace {

constexpr DWORD kNotSupported = 50;  // ERROR_NOT_SUPPORTED

// The host path of what a file handle refers to, as the kernel tracks it through renames.
std::optional<std::string> handle_path(HANDLE file) {
    const auto object = winsim::object_as<winsim::FdObject>(file);
    if (!object || std::string_view(object->type_name()) != "File")
        return std::nullopt;
    const std::string link = "/proc/self/fd/" + std::to_string(object->fd());
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0)
        return std::nullopt;
    return std::string(target, static_cast<std::size_t>(length));
}

}  // namespace

BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    WINSIM_FAIL_IF_INJECTED("GetFileAttributesExW");
    if (level != GetFileExInfoStandard || information == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    auto host = winsim::host_path_for(path == nullptr ? std::u16string_view() : path);
    if (!host)
        return winsim::fail(host.error());
    if (const DWORD pending = winsim::settle_pending_deletion(*host, false))
        return winsim::fail(pending);
    struct stat status {};
    const auto found = winsim::object_attributes(*host);
    const auto resolved = found ? winsim::resolved_object_path(*host, true) : std::nullopt;
    if (!resolved || ::lstat(host->c_str(), &status) != 0) {
        const DWORD error =
            errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : winsim::missing_file_error(*host);
        return winsim::fail(error);
    }
    if (const DWORD denied = winsim::check_file_access(*resolved, FILE_READ_ATTRIBUTES))
        return winsim::fail(denied);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    data.dwFileAttributes = found->attributes;
    winsim::set_times_and_size(data, status);
    std::memcpy(information, &data, sizeof data);
    return TRUE;
}

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                  LPVOID information, DWORD size) {
    WINSIM_FAIL_IF_INJECTED("GetFileInformationByHandleEx");
    const auto object = winsim::object_as<winsim::FdObject>(file);
    if (!object || std::string_view(object->type_name()) != "File")
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (information_class != FileAttributeTagInfo)
        return winsim::fail(kNotSupported);
    if (information == nullptr || size < sizeof(FILE_ATTRIBUTE_TAG_INFO))
        return winsim::fail(ERROR_BAD_LENGTH);
    const auto found = winsim::descriptor_attributes(object->fd());
    if (!found)
        return winsim::fail(winsim::windows_error_from_errno(errno));
    const FILE_ATTRIBUTE_TAG_INFO tag{found->attributes, found->reparse_tag};
    std::memcpy(information, &tag, sizeof tag);
    return TRUE;
}

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                LPVOID information, DWORD size) {
    WINSIM_FAIL_IF_INJECTED("SetFileInformationByHandle");
    const auto object = winsim::object_as<winsim::FileObject>(file);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (information_class != FileDispositionInfo)
        return winsim::fail(kNotSupported);
    if (information == nullptr || size < sizeof(FILE_DISPOSITION_INFO))
        return winsim::fail(ERROR_BAD_LENGTH);
    // The caller must have DELETE access (FILE_DISPOSITION_INFORMATION documentation).
    if ((object->granted() & DELETE) == 0)
        return winsim::fail(ERROR_ACCESS_DENIED);
    const bool remove = static_cast<const FILE_DISPOSITION_INFO*>(information)->DeleteFile != 0;
    struct stat status {};
    if (::fstat(object->fd(), &status) != 0)
        return winsim::fail(winsim::windows_error_from_errno(errno));
    if (remove && S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0)
        return winsim::fail(ERROR_ACCESS_DENIED);  // a read-only file cannot be deleted
    if (remove && S_ISDIR(status.st_mode) && !winsim::is_empty_directory(object->fd()))
        return winsim::fail(ERROR_DIR_NOT_EMPTY);
    const winsim::SharingLock lock;
    const DWORD set = winsim::set_deletion(lock, object->fd(), remove);
    return set == ERROR_SUCCESS ? TRUE : winsim::fail(set);
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
    if (auto fault = winsim::take_fault("GetFinalPathNameByHandleW")) {
        SetLastError(fault->value);
        return 0;
    }
    if ((flags & ~FILE_NAME_OPENED) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto host = handle_path(file);
    if (!host) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::u16string final_path = u"\\\\?\\" + winsim::windows_form_of(*host);
    const auto length = static_cast<DWORD>(final_path.size());
    if (path == nullptr || size <= length)
        return length + 1;
    std::memcpy(path, final_path.data(), final_path.size() * sizeof(char16_t));
    path[length] = u'\0';
    return length;
}
