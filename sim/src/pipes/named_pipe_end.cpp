#include "pipes/named_pipe_end.h"

#include <winsim/pipes.h>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <thread>

#include "machine/fd_object.h"

namespace winsim {

NamedPipeEnd::~NamedPipeEnd() {
    if (connection_ >= 0)
        ::close(connection_);
}

DWORD NamedPipeEnd::read(void* buffer, DWORD size, DWORD& transferred) {
    transferred = 0;
    if (!can_read_)
        return ERROR_ACCESS_DENIED;
    const int fd = connection_;
    if (fd < 0)
        return not_connected_error();
    if (size == 0)
        return 0;
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, size, nowait_ ? MSG_DONTWAIT : 0);
        if (got > 0) {
            transferred = static_cast<DWORD>(got);
            return 0;
        }
        if (got == 0)
            return ERROR_BROKEN_PIPE;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return ERROR_NO_DATA;
        if (errno == ECONNRESET)
            return ERROR_BROKEN_PIPE;
        return windows_error_from_errno(errno);
    }
}

DWORD NamedPipeEnd::write(const void* buffer, DWORD size, DWORD& transferred) {
    transferred = 0;
    if (!can_write_)
        return ERROR_ACCESS_DENIED;
    const int fd = connection_;
    if (fd < 0)
        return not_connected_error();
    const auto* bytes = static_cast<const char*>(buffer);
    while (transferred < size) {
        const ssize_t put = ::send(fd, bytes + transferred, size - transferred,
                                   MSG_NOSIGNAL | (nowait_ ? MSG_DONTWAIT : 0));
        if (put >= 0) {
            transferred += static_cast<DWORD>(put);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno == EPIPE || errno == ECONNRESET)
            return ERROR_NO_DATA;
        return windows_error_from_errno(errno);
    }
    return 0;
}

DWORD NamedPipeEnd::flush() {
    if (!can_write_)
        return 0;
    const int fd = connection_;
    if (fd < 0)
        return not_connected_error();
    // What this end wrote stays charged to it until the peer has read it (or has gone, which
    // discards it), so an empty send queue means everything written was taken.
    // The reader usually takes the data within microseconds: yield first, and only sleep,
    // ever longer, for a reader that is slow to come.
    auto pause = std::chrono::microseconds(20);
    for (int attempt = 0;; ++attempt) {
        int unread = 0;
        if (::ioctl(fd, SIOCOUTQ, &unread) != 0)
            return windows_error_from_errno(errno);
        if (unread == 0)
            return 0;
        if (attempt < 2000) {
            std::this_thread::yield();
            continue;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(1000));
    }
}

DWORD NamedPipeEnd::client_process_id(DWORD& process_id) {
    process_id = static_cast<DWORD>(::getpid());
    return 0;
}

}  // namespace winsim
