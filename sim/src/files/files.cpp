// kernel32's file and directory calls on the host's file system, with Windows' access checks
// against the calling process's token and the descriptors of sim/src/file_security.h.

#include <winsim/files.h>
#include <winsim/kernel.h>
#include <winsim/security.h>
#include <winsim/security_attributes.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "files/file_access.h"
#include "files/file_object.h"
#include "files/file_paths.h"
#include "files/file_security.h"
#include "files/reparse_points.h"
#include "files/share_access.h"
#include "machine/faults.h"
#include "machine/fd_object.h"
#include "machine/object.h"
#include "pipes/named_pipe_client.h"
#include "security/security_descriptor.h"

namespace {

constexpr DWORD kWriteAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kReadAccess = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA;
// CreateFileW asks for these besides what the caller asked for.
constexpr DWORD kAlwaysRequested = SYNCHRONIZE | FILE_READ_ATTRIBUTES;

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

bool is_directory_link(const std::string& host) {
    const auto target = status_of(host);
    return target && S_ISDIR(target->st_mode);
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

// What CreateFileW was asked for, as the steps of an open need it.
struct OpenRequest {
    DWORD access = 0;  // DELETE added for FILE_FLAG_DELETE_ON_CLOSE
    DWORD share = 0;
    DWORD disposition = 0;
    DWORD flags = 0;
    bool delete_on_close() const { return (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0; }
};

// Checks and records the open of `fd` in the machine's sharing table; the handle on success,
// else the descriptor closed and the failure reported.
HANDLE shared_handle(const winsim::SharingLock& lock, int fd, const std::string& resolved,
                     const OpenRequest& open, DWORD last_error) {
    auto record =
        winsim::record_open(lock, fd, winsim::folder_keys(resolved),
                            winsim::share_request(open.access, open.share, open.delete_on_close()));
    if (!record) {
        ::close(fd);
        return fail_handle(record.error());
    }
    const ACCESS_MASK granted =
        winsim::map_generic_rights(open.access | kAlwaysRequested, winsim::kFileGenericMapping);
    SetLastError(last_error);
    return winsim::insert_handle(
        std::make_shared<winsim::FileObject>(fd, granted, std::move(*record)));
}

// Marks an object that handles hold open for deletion when the last of them closes.
BOOL mark_for_deletion(const winsim::SharingLock& lock, const std::string& host) {
    const DWORD marked = winsim::ask_deletion(lock, host);
    return marked == ERROR_SUCCESS ? TRUE : winsim::fail(marked);
}

// Object-store rule ([MS-FSA] 2.1.5.1.2.2): a caller that may not write to the folder holding
// an object cannot keep others from reading it.
DWORD effective_share(const std::string& resolved, DWORD share) {
    if ((share & FILE_SHARE_READ) != 0)
        return share;
    const auto folder = winsim::parent_object(resolved);
    if (folder && winsim::check_file_access(*folder, FILE_WRITE_DATA) != ERROR_SUCCESS)
        return share | FILE_SHARE_READ;
    return share;
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

int creation_flags(DWORD disposition) {
    switch (disposition) {
        case CREATE_NEW:
            return O_CREAT | O_EXCL;
        case CREATE_ALWAYS:
            return O_CREAT | O_TRUNC;
        case OPEN_ALWAYS:
            return O_CREAT;
        case TRUNCATE_EXISTING:
            return O_TRUNC;
        default:
            return 0;
    }
}

// The descriptor a creation call asks for, or ERROR_INVALID_SECURITY_DESCR.
struct RequestedSecurity {
    std::optional<winsim::SecurityDescription> description;
    DWORD error = ERROR_SUCCESS;
};
RequestedSecurity requested_security(LPSECURITY_ATTRIBUTES attributes) {
    if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr)
        return {};
    auto description = winsim::read_security_descriptor(attributes->lpSecurityDescriptor);
    if (!description)
        return {std::nullopt, ERROR_INVALID_SECURITY_DESCR};
    return {std::move(description), ERROR_SUCCESS};
}

// Gives a new object its descriptor by Windows' creation rules. A host file system that keeps
// no extended attributes leaves it with the one it would inherit anyway.
void give_new_object_security(const std::string& created, bool container,
                              const RequestedSecurity& requested) {
    const auto folder = winsim::parent_object(created);
    if (!folder)
        return;
    const auto description = winsim::new_object_security(
        winsim::effective_security(*folder), container, winsim::process_token_object()->snapshot(),
        requested.description ? &*requested.description : nullptr);
    (void)winsim::store_security(created, description);
}

// FILE_ADD_FILE or FILE_ADD_SUBDIRECTORY on the folder a new name goes into.
DWORD check_may_add(const std::string& resolved_new, ACCESS_MASK right) {
    const auto folder = winsim::parent_object(resolved_new);
    return folder ? winsim::check_file_access(*folder, right) : ERROR_ACCESS_DENIED;
}

// The object at `host` changed between the look at it and the open (a directory replaced by a
// link, say): the caller looks again. Windows opens a name in one step; the simulated host
// cannot, and must not open what the look did not see, least of all a link's target when the
// link itself was asked for.
constexpr HANDLE kLookAgain = nullptr;

HANDLE open_existing(const std::string& host, const struct stat& existing,
                     const OpenRequest& open) {
    const bool link_itself = S_ISLNK(existing.st_mode);
    const bool writes = (open.access & kWriteAccess) != 0;
    const bool truncates =
        open.disposition == CREATE_ALWAYS || open.disposition == TRUNCATE_EXISTING;
    if (open.disposition == CREATE_NEW)
        return fail_handle(ERROR_FILE_EXISTS);
    const bool directory = S_ISDIR(existing.st_mode) || (link_itself && is_directory_link(host));
    if (directory) {
        const bool may_open =
            (open.flags & FILE_FLAG_BACKUP_SEMANTICS) != 0 &&
            (open.disposition == OPEN_EXISTING || open.disposition == OPEN_ALWAYS) && !writes;
        if (!may_open)
            return fail_handle(ERROR_ACCESS_DENIED);
    }
    const auto resolved = winsim::resolved_object_path(host, link_itself);
    if (!resolved)
        return fail_handle(lookup_error(host, errno));
    const DWORD wanted = open.access | kAlwaysRequested | (truncates ? FILE_WRITE_DATA : 0u);
    if (const DWORD denied = winsim::check_file_access(*resolved, wanted); denied != 0)
        return fail_handle(denied);
    if (is_read_only(existing) && (writes || truncates || open.delete_on_close()))
        return fail_handle(ERROR_ACCESS_DENIED);

    const bool reports_found = open.disposition == CREATE_ALWAYS || open.disposition == OPEN_ALWAYS;
    int fd = -1;
    HANDLE handle = INVALID_HANDLE_VALUE;
    {
        const winsim::SharingLock lock;
        if (lock.error() != ERROR_SUCCESS)
            return fail_handle(lock.error());
        // A final link is followed only when the look followed it.
        const int no_follow = (open.flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0 ? O_NOFOLLOW : 0;
        if (link_itself)
            fd = ::open(host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        else if (directory)
            fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | no_follow);
        else {
            // Truncated only once the sharing table has let the open through.
            int flags = open_flags(open.access) | no_follow;
            if (truncates && (flags & O_ACCMODE) == O_RDONLY)
                flags = (flags & ~O_ACCMODE) | O_RDWR;
            fd = ::open(host.c_str(), flags);
        }
        if (fd < 0 && (errno == ELOOP || errno == ENOTDIR))
            return kLookAgain;
        if (fd < 0)
            return fail_handle(lookup_error(host, errno));
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || (opened.st_mode & S_IFMT) != (existing.st_mode & S_IFMT)) {
            ::close(fd);
            return kLookAgain;
        }
        OpenRequest shared = open;
        shared.share = effective_share(*resolved, open.share);
        handle = shared_handle(lock, fd, *resolved, shared,
                               reports_found ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    }
    // Outside the sharing lock: closing the handle on failure takes it again.
    if (handle != INVALID_HANDLE_VALUE && truncates && !directory && !link_itself &&
        ::ftruncate(fd, 0) != 0) {
        const DWORD error = winsim::windows_error_from_errno(errno);
        CloseHandle(handle);
        return fail_handle(error);
    }
    return handle;
}

HANDLE create_new(const std::string& host, const OpenRequest& open,
                  const RequestedSecurity& requested) {
    const auto created = winsim::resolved_new_path(host);
    if (!created)
        return fail_handle(ERROR_PATH_NOT_FOUND);
    if (const DWORD denied = check_may_add(*created, FILE_ADD_FILE); denied != 0)
        return fail_handle(denied);
    if (const auto folder = winsim::parent_object(*created)) {
        // Nothing is made in a folder whose deletion is pending.
        if (const DWORD pending = winsim::settle_pending_deletion(*folder, false))
            return fail_handle(pending);
    }
    int flags = open_flags(open.access) | creation_flags(open.disposition);
    if ((flags & O_TRUNC) != 0 && (flags & O_ACCMODE) == O_RDONLY)
        flags = (flags & ~O_ACCMODE) | O_RDWR;
    const mode_t mode = (open.flags & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    const winsim::SharingLock lock;
    if (lock.error() != ERROR_SUCCESS)
        return fail_handle(lock.error());
    const int fd = ::open(host.c_str(), flags, mode);
    if (fd < 0) {
        // A file that cannot be created for want of its folder.
        if (errno == ENOENT || errno == ENOTDIR)
            return fail_handle(ERROR_PATH_NOT_FOUND);
        if (errno == EEXIST)
            return fail_handle(ERROR_FILE_EXISTS);
        return fail_handle(lookup_error(host, errno));
    }
    give_new_object_security(*created, false, requested);
    return shared_handle(lock, fd, *created, open, ERROR_SUCCESS);
}

// What Windows checks before it removes a name: DELETE access to the object the name leads to,
// then that no handle open on it refuses delete sharing. On success `key` names the object and
// `lock` holds the sharing table, for the caller to keep until the name is gone.
DWORD deletion_refusal(const std::string& host, std::optional<winsim::SharingLock>& lock,
                       winsim::FileKey& key) {
    const auto resolved = winsim::resolved_object_path(host, true);
    if (!resolved)
        return lookup_error(host, errno);
    if (const DWORD denied = winsim::check_file_access(*resolved, DELETE); denied != 0)
        return denied;
    lock.emplace();
    if (lock->error() != ERROR_SUCCESS)
        return lock->error();
    const auto found = winsim::key_of_name(host);
    if (!found)
        return lookup_error(host, errno);
    if (const DWORD refused = winsim::delete_sharing(*lock, *found))
        return refused;
    key = *found;
    return ERROR_SUCCESS;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE) {
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
    const auto requested = requested_security(security_attributes);
    if (requested.error != ERROR_SUCCESS)
        return fail_handle(requested.error);
    const auto host = resolve(file_name);
    if (!host)
        return INVALID_HANDLE_VALUE;

    OpenRequest open;
    open.access = desired_access;
    open.share = share_mode;
    open.disposition = creation_disposition;
    open.flags = flags_and_attributes;
    // A handle that deletes its file when it closes needs the right to delete it.
    if (open.delete_on_close())
        open.access |= DELETE;
    const bool link_itself = (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    if (const DWORD pending = winsim::settle_pending_deletion(*host, !link_itself))
        return fail_handle(pending);
    for (int look = 0; look < 64; ++look) {
        const auto existing = status_of(*host, !link_itself);
        if (!existing)
            break;
        if (HANDLE opened = open_existing(*host, *existing, open); opened != kLookAgain)
            return opened;
    }
    if (const auto existing = status_of(*host, !link_itself); existing)
        return fail_handle(ERROR_SHARING_VIOLATION);  // changing under every look
    if (creation_disposition == OPEN_EXISTING || creation_disposition == TRUNCATE_EXISTING)
        return fail_handle(lookup_error(*host, errno));
    return create_new(*host, open, requested);
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security_attributes) {
    WINSIM_FAIL_IF_INJECTED("CreateDirectoryW");
    const auto requested = requested_security(security_attributes);
    if (requested.error != ERROR_SUCCESS)
        return winsim::fail(requested.error);
    const auto host = resolve(path);
    if (!host)
        return FALSE;
    if (const DWORD pending = winsim::settle_pending_deletion(*host, false))
        return winsim::fail(pending);
    if (status_of(*host, false))
        return winsim::fail(ERROR_ALREADY_EXISTS);
    const auto created = winsim::resolved_new_path(*host);
    if (!created)
        return winsim::fail(ERROR_PATH_NOT_FOUND);
    if (const DWORD denied = check_may_add(*created, FILE_ADD_SUBDIRECTORY); denied != 0)
        return winsim::fail(denied);
    if (::mkdir(host->c_str(), 0777) != 0) {
        if (errno == EEXIST)
            return winsim::fail(ERROR_ALREADY_EXISTS);
        if (errno == ENOENT || errno == ENOTDIR)
            return winsim::fail(ERROR_PATH_NOT_FOUND);
        return winsim::fail(winsim::windows_error_from_errno(errno));
    }
    give_new_object_security(*created, true, requested);
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    WINSIM_FAIL_IF_INJECTED("RemoveDirectoryW");
    const auto host = resolve(path);
    if (!host)
        return FALSE;
    if (const DWORD pending = winsim::settle_pending_deletion(*host, false))
        return winsim::fail(pending);
    const auto status = status_of(*host, false);
    if (!status)
        return winsim::fail(lookup_error(*host, errno));
    // A junction or a link to a directory is removed itself, its target left alone.
    const bool link = S_ISLNK(status->st_mode);
    if (link ? !is_directory_link(*host) : !S_ISDIR(status->st_mode))
        return winsim::fail(ERROR_DIRECTORY);
    std::optional<winsim::SharingLock> lock;
    winsim::FileKey key;
    if (const DWORD refused = deletion_refusal(*host, lock, key))
        return winsim::fail(refused);
    if (!link && winsim::is_open(*lock, key)) {
        // Marked for deletion; the last handle to close takes it away.
        if (!winsim::is_empty_directory(*host))
            return winsim::fail(ERROR_DIR_NOT_EMPTY);
        return mark_for_deletion(*lock, *host);
    }
    if ((link ? ::unlink(host->c_str()) : ::rmdir(host->c_str())) == 0)
        return TRUE;
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
    if (const DWORD pending = winsim::settle_pending_deletion(*host, false)) {
        SetLastError(pending);
        return INVALID_FILE_ATTRIBUTES;
    }
    const auto found = winsim::object_attributes(*host);
    const auto resolved = found ? winsim::resolved_object_path(*host, true) : std::nullopt;
    if (!resolved) {
        SetLastError(lookup_error(*host, errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (const DWORD denied = winsim::check_file_access(*resolved, FILE_READ_ATTRIBUTES)) {
        SetLastError(denied);
        return INVALID_FILE_ATTRIBUTES;
    }
    return found->attributes;
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
    WINSIM_FAIL_IF_INJECTED("SetFileAttributesW");
    const auto host = resolve(path);
    if (!host)
        return FALSE;
    if (const DWORD pending = winsim::settle_pending_deletion(*host, true))
        return winsim::fail(pending);
    const auto status = status_of(*host);
    const auto resolved = status ? winsim::resolved_object_path(*host, false) : std::nullopt;
    if (!resolved)
        return winsim::fail(lookup_error(*host, errno));
    if (const DWORD denied = winsim::check_file_access(*resolved, FILE_WRITE_ATTRIBUTES))
        return winsim::fail(denied);
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
    if (const DWORD pending = winsim::settle_pending_deletion(*host, false))
        return winsim::fail(pending);
    const auto status = status_of(*host, false);
    if (!status)
        return winsim::fail(lookup_error(*host, errno));
    const bool directory =
        S_ISDIR(status->st_mode) || (S_ISLNK(status->st_mode) && is_directory_link(*host));
    if (directory || is_read_only(*status))
        return winsim::fail(ERROR_ACCESS_DENIED);
    std::optional<winsim::SharingLock> lock;
    winsim::FileKey key;
    if (const DWORD refused = deletion_refusal(*host, lock, key))
        return winsim::fail(refused);
    // A file that other handles hold open is marked, and goes with the last of them.
    if (!S_ISLNK(status->st_mode) && winsim::is_open(*lock, key))
        return mark_for_deletion(*lock, *host);
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
    if (const DWORD pending = winsim::settle_pending_deletion(*source, false))
        return winsim::fail(pending);
    if (const DWORD pending = winsim::settle_pending_deletion(*target, false))
        return winsim::fail(pending);
    const auto moving = status_of(*source, false);
    if (!moving)
        return winsim::fail(lookup_error(*source, errno));
    const auto moved = winsim::resolved_object_path(*source, true);
    if (!moved)
        return winsim::fail(lookup_error(*source, errno));
    if (const DWORD denied = winsim::check_file_access(*moved, DELETE); denied != 0)
        return winsim::fail(denied);
    // The source is opened for DELETE, sharing everything, before anything else is looked at.
    const winsim::SharingLock lock;
    if (lock.error() != ERROR_SUCCESS)
        return winsim::fail(lock.error());
    const auto moving_key = winsim::key_of_name(*source);
    if (!moving_key)
        return winsim::fail(lookup_error(*source, errno));
    if (const DWORD refused = winsim::delete_sharing(lock, *moving_key))
        return winsim::fail(refused);
    const auto arrival = winsim::resolved_new_path(*target);
    if (!arrival)
        return winsim::fail(ERROR_PATH_NOT_FOUND);
    if (const auto replaced = status_of(*target, false)) {
        if ((flags & MOVEFILE_REPLACE_EXISTING) == 0)
            return winsim::fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(replaced->st_mode) || S_ISDIR(moving->st_mode) || is_read_only(*replaced))
            return winsim::fail(ERROR_ACCESS_DENIED);
        if (const DWORD denied = winsim::check_file_access(*arrival, DELETE); denied != 0)
            return winsim::fail(denied);
        // A target that is open is not replaced ([MS-FSCC] 2.4.42, FileRenameInformation).
        if (const auto replaced_key = winsim::key_of_name(*target);
            replaced_key && winsim::is_open(lock, *replaced_key))
            return winsim::fail(ERROR_ACCESS_DENIED);
    }
    const ACCESS_MASK add = S_ISDIR(moving->st_mode) ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE;
    if (const DWORD denied = check_may_add(*arrival, add); denied != 0)
        return winsim::fail(denied);
    // Nothing below a directory may be open while the directory moves.
    if (S_ISDIR(moving->st_mode) && winsim::holds_open_object(lock, *moving_key))
        return winsim::fail(ERROR_ACCESS_DENIED);
    // Windows keeps a moved object's descriptor as it was, inherited entries included; one
    // that was only derived from its old folder is fixed now so that it does not change.
    if (!S_ISLNK(moving->st_mode) && !winsim::stored_security(*moved))
        (void)winsim::store_security(*moved, winsim::effective_security(*moved));
    if (::rename(source->c_str(), target->c_str()) == 0)
        return TRUE;
    if (errno == EXDEV)
        return winsim::fail(ERROR_NOT_SAME_DEVICE);
    if (errno == ENOENT || errno == ENOTDIR)
        return winsim::fail(ERROR_PATH_NOT_FOUND);
    return winsim::fail(winsim::windows_error_from_errno(errno));
}
