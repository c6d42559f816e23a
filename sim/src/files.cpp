// kernel32's file and directory calls on the host's file system.

#include <winsim/files.h>
#include <winsim/kernel.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "faults.h"
#include "fd_object.h"
#include "file_paths.h"
#include "named_pipe_client.h"
#include "object.h"

namespace {

constexpr DWORD kWriteAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kReadAccess = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA;

std::u16string_view text_of(LPCWSTR path) {
    return path == nullptr ? std::u16string_view() : std::u16string_view(path);
}

// The host path, or FALSE with the last error set.
std::optional<std::string> resolve(LPCWSTR path) {
    auto host = winsim::host_path_for(text_of(path));
    if (!host) {
        SetLastError(host.error());
        return std::nullopt;
    }
    return std::move(*host);
}

std::optional<struct stat> status_of(const std::string& host, bool follow_links = true) {
    struct stat status {};
    const int result =
        follow_links ? ::stat(host.c_str(), &status) : ::lstat(host.c_str(), &status);
    if (result != 0)
        return std::nullopt;
    return status;
}

// The read-only attribute, as this simulated host keeps it.
bool is_read_only(const struct stat& status) {
    return S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0;
}

// Why a name that should exist could not be found or used.
DWORD lookup_error(const std::string& host, int error) {
    if (error == ENOENT)
        return winsim::missing_file_error(host);
    if (error == ENOTDIR)
        return ERROR_PATH_NOT_FOUND;
    return winsim::windows_error_from_errno(error);
}

HANDLE fail_handle(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

HANDLE open_directory(const std::string& host) {
    const int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail_handle(lookup_error(host, errno));
    SetLastError(ERROR_SUCCESS);
    return winsim::insert_handle(std::make_shared<winsim::FdObject>(fd, "File"));
}

int open_flags(DWORD access) {
    const bool reads = (access & kReadAccess) != 0;
    const bool writes = (access & kWriteAccess) != 0;
    int flags = O_CLOEXEC;
    if (reads && writes)
        flags |= O_RDWR;
    else if (writes)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    // Append-only access writes at the end whatever the file position.
    if ((access & FILE_APPEND_DATA) != 0 &&
        (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA)) == 0)
        flags |= O_APPEND;
    return flags;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR file_name, DWORD desired_access, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD creation_disposition, DWORD flags_and_attributes, HANDLE) {
    if (auto fault = winsim::take_fault("CreateFileW"))
        return fail_handle(fault->value);
    if (file_name != nullptr && winsim::is_named_pipe_name(file_name))
        return winsim::open_named_pipe_client(file_name, desired_access, creation_disposition,
                                              flags_and_attributes);
    if (creation_disposition < CREATE_NEW || creation_disposition > TRUNCATE_EXISTING)
        return fail_handle(ERROR_INVALID_PARAMETER);
    const bool writes = (desired_access & kWriteAccess) != 0;
    if (creation_disposition == TRUNCATE_EXISTING && !writes)
        return fail_handle(ERROR_INVALID_PARAMETER);
    const auto host = resolve(file_name);
    if (!host)
        return INVALID_HANDLE_VALUE;

    const auto existing = status_of(*host);
    if (existing) {
        if (creation_disposition == CREATE_NEW)
            return fail_handle(ERROR_FILE_EXISTS);
        if (S_ISDIR(existing->st_mode)) {
            const bool may_open =
                (flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) != 0 &&
                (creation_disposition == OPEN_EXISTING || creation_disposition == OPEN_ALWAYS) &&
                !writes;
            return may_open ? open_directory(*host) : fail_handle(ERROR_ACCESS_DENIED);
        }
        const bool truncates =
            creation_disposition == CREATE_ALWAYS || creation_disposition == TRUNCATE_EXISTING;
        if (is_read_only(*existing) && (writes || truncates))
            return fail_handle(ERROR_ACCESS_DENIED);
    } else if (creation_disposition == OPEN_EXISTING || creation_disposition == TRUNCATE_EXISTING) {
        return fail_handle(lookup_error(*host, errno));
    }

    int flags = open_flags(desired_access);
    switch (creation_disposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            break;
    }
    // Truncation needs a descriptor open for writing even when only reading was asked for.
    if ((flags & O_TRUNC) != 0 && (flags & O_ACCMODE) == O_RDONLY)
        flags = (flags & ~O_ACCMODE) | O_RDWR;
    const mode_t mode = (flags_and_attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    const int fd = ::open(host->c_str(), flags, mode);
    if (fd < 0) {
        // A file that cannot be created for want of its folder.
        if ((flags & O_CREAT) != 0 && (errno == ENOENT || errno == ENOTDIR))
            return fail_handle(ERROR_PATH_NOT_FOUND);
        if (errno == EEXIST)
            return fail_handle(ERROR_FILE_EXISTS);
        return fail_handle(lookup_error(*host, errno));
    }
    const bool found_existing =
        existing && (creation_disposition == CREATE_ALWAYS || creation_disposition == OPEN_ALWAYS);
    SetLastError(found_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return winsim::insert_handle(std::make_shared<winsim::FdObject>(fd, "File"));
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    WINSIM_FAIL_IF_INJECTED("CreateDirectoryW");
    const auto host = resolve(path);
    if (!host)
        return FALSE;
    if (::mkdir(host->c_str(), 0777) == 0)
        return TRUE;
    if (errno == EEXIST)
        return winsim::fail(ERROR_ALREADY_EXISTS);
    if (errno == ENOENT || errno == ENOTDIR)
        return winsim::fail(ERROR_PATH_NOT_FOUND);
    return winsim::fail(winsim::windows_error_from_errno(errno));
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    WINSIM_FAIL_IF_INJECTED("RemoveDirectoryW");
    const auto host = resolve(path);
    if (!host)
        return FALSE;
    if (::rmdir(host->c_str()) == 0)
        return TRUE;
    if (errno == ENOTDIR)
        return winsim::fail(ERROR_DIRECTORY);
    if (errno == ENOTEMPTY || errno == EEXIST)
        return winsim::fail(ERROR_DIR_NOT_EMPTY);
    return winsim::fail(lookup_error(*host, errno));
}

DWORD GetFileAttributesW(LPCWSTR path) {
    if (auto fault = winsim::take_fault("GetFileAttributesW")) {
        SetLastError(fault->value);
        return INVALID_FILE_ATTRIBUTES;
    }
    const auto host = resolve(path);
    if (!host)
        return INVALID_FILE_ATTRIBUTES;
    const auto status = status_of(*host, false);
    if (!status) {
        SetLastError(lookup_error(*host, errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISLNK(status->st_mode)) {
        const auto target = status_of(*host);
        const bool directory = target && S_ISDIR(target->st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT |
               (directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    }
    if (S_ISDIR(status->st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return FILE_ATTRIBUTE_ARCHIVE | (is_read_only(*status) ? FILE_ATTRIBUTE_READONLY : 0u);
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
    WINSIM_FAIL_IF_INJECTED("SetFileAttributesW");
    const auto host = resolve(path);
    if (!host)
        return FALSE;
    const auto status = status_of(*host);
    if (!status)
        return winsim::fail(lookup_error(*host, errno));
    if (!S_ISREG(status->st_mode))
        return TRUE;
    const mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) != 0
                            ? (status->st_mode & 07777 & ~mode_t{0222})
                            : (status->st_mode & 07777) | S_IWUSR;
    if (::chmod(host->c_str(), mode) != 0)
        return winsim::fail(winsim::windows_error_from_errno(errno));
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR path) {
    WINSIM_FAIL_IF_INJECTED("DeleteFileW");
    const auto host = resolve(path);
    if (!host)
        return FALSE;
    const auto status = status_of(*host, false);
    if (!status)
        return winsim::fail(lookup_error(*host, errno));
    if (S_ISDIR(status->st_mode) || is_read_only(*status))
        return winsim::fail(ERROR_ACCESS_DENIED);
    if (::unlink(host->c_str()) != 0)
        return winsim::fail(lookup_error(*host, errno));
    return TRUE;
}

BOOL MoveFileExW(LPCWSTR existing_name, LPCWSTR new_name, DWORD flags) {
    WINSIM_FAIL_IF_INJECTED("MoveFileExW");
    const auto source = resolve(existing_name);
    if (!source)
        return FALSE;
    const auto target = resolve(new_name);
    if (!target)
        return FALSE;
    const auto moving = status_of(*source, false);
    if (!moving)
        return winsim::fail(lookup_error(*source, errno));
    if (const auto replaced = status_of(*target, false)) {
        if ((flags & MOVEFILE_REPLACE_EXISTING) == 0)
            return winsim::fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(replaced->st_mode) || S_ISDIR(moving->st_mode) || is_read_only(*replaced))
            return winsim::fail(ERROR_ACCESS_DENIED);
    }
    if (::rename(source->c_str(), target->c_str()) == 0)
        return TRUE;
    if (errno == EXDEV)
        return winsim::fail(ERROR_NOT_SAME_DEVICE);
    if (errno == ENOENT || errno == ENOTDIR)
        return winsim::fail(ERROR_PATH_NOT_FOUND);
    return winsim::fail(winsim::windows_error_from_errno(errno));
}
