#include "machine/fd_object.h"

#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <string_view>

namespace winsim {

DWORD windows_error_from_errno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENAMETOOLONG:
            return 206;  // ERROR_FILENAME_EXCED_RANGE
        case ENOSPC:
            return 112;  // ERROR_DISK_FULL
        // Writing to a pipe whose reader has gone: Windows reports "The pipe is being closed."
        case EPIPE:
            return ERROR_NO_DATA;
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

namespace {

// A write to a pipe without a reader must fail like WriteFile does, not end the process.
void ignore_broken_pipe_signal() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

}  // namespace

FdObject::~FdObject() {
    if (fd_ >= 0)
        ::close(fd_);
}

DWORD FdObject::read(void* buffer, DWORD size, DWORD& transferred) {
    transferred = 0;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0) {
            transferred = static_cast<DWORD>(got);
            // End of a pipe whose writers have all closed is ERROR_BROKEN_PIPE on Windows;
            // end of a file is a successful zero-byte read. A descriptor can be either.
            if (got == 0 && size > 0 && type_ != nullptr && std::string_view(type_) == "Pipe")
                return ERROR_BROKEN_PIPE;
            return 0;
        }
        if (errno != EINTR)
            return windows_error_from_errno(errno);
    }
}

DWORD FdObject::write(const void* buffer, DWORD size, DWORD& transferred) {
    ignore_broken_pipe_signal();
    transferred = 0;
    const auto* bytes = static_cast<const char*>(buffer);
    while (transferred < size) {
        const ssize_t put = ::write(fd_, bytes + transferred, size - transferred);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return windows_error_from_errno(errno);
        }
        transferred += static_cast<DWORD>(put);
    }
    return 0;
}

DWORD FdObject::flush() {
    // Pipes and terminals have nothing buffered in the process; files are synced by the
    // kernel's page cache, which is what FlushFileBuffers promises a later reader anyway.
    return 0;
}

}  // namespace winsim
