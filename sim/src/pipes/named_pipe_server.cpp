#include "pipes/named_pipe_server.h"

#include <winsim/pipes.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "machine/fd_object.h"

namespace winsim {
namespace {

sockaddr_un socket_address(const std::string& name, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    return address;
}

int listen_on(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    socklen_t length = 0;
    const sockaddr_un address = socket_address(name, length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 4) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// A client that connected and closed its end again before the server looked: Windows reports
// ERROR_NO_DATA for it whether or not it left data behind.
bool peer_already_closed(int fd) {
    pollfd watch{fd, POLLRDHUP, 0};
    return ::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLRDHUP | POLLHUP)) != 0;
}

}  // namespace

int connect_to_pipe_socket(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    socklen_t length = 0;
    const sockaddr_un address = socket_address(name, length);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

NamedPipeServer::Created NamedPipeServer::create(const std::string& key, bool first_instance,
                                                 const PipeRecord& record, bool can_read,
                                                 bool can_write, bool nowait) {
    PipeLocation location(key);
    auto lock = FileLock::try_acquire(location.lock_path());
    // One instance per name: an existing pipe refuses a first instance outright, and has no
    // room for another one.
    if (!lock)
        return {nullptr,
                static_cast<DWORD>(first_instance ? ERROR_ACCESS_DENIED : ERROR_PIPE_BUSY)};
    // A pipe whose record cannot be stored could not be opened by any client: no pipe at all.
    if (!location.write_record(record))
        return {nullptr, DWORD{1450}};  // ERROR_NO_SYSTEM_RESOURCES
    const int listener = listen_on(location.socket_name());
    if (listener < 0) {
        const DWORD error = windows_error_from_errno(errno);
        location.remove_record();
        return {nullptr, error};
    }
    location.set_listening(true);
    return {std::make_shared<NamedPipeServer>(std::move(location), std::move(*lock), listener,
                                              can_read, can_write, nowait),
            0};
}

NamedPipeServer::NamedPipeServer(PipeLocation location, FileLock lock, int listener, bool can_read,
                                 bool can_write, bool nowait)
    : NamedPipeEnd(can_read, can_write, nowait),
      location_(std::move(location)),
      lock_(std::move(lock)),
      listener_(listener) {}

NamedPipeServer::~NamedPipeServer() {
    stop_listening();
    location_.remove_record();
    // lock_ goes last (a member): the pipe stops existing only once its files are gone.
}

void NamedPipeServer::stop_listening() {
    if (listener_ < 0)
        return;
    location_.set_listening(false);
    ::close(listener_);
    listener_ = -1;
}

void NamedPipeServer::adopt_waiting_client() {
    if (state_ != State::listening)
        return;
    int fd = -1;
    do {
        fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && (errno == EINTR || errno == ECONNABORTED));
    if (fd < 0)
        return;
    // The process that called connect(): the client that opened the pipe.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0)
        client_pid_ = static_cast<DWORD>(peer.pid);
    stop_listening();
    // Its data, if any, can still be read; only ConnectNamedPipe tells that it has gone.
    state_ = peer_already_closed(fd) ? State::closing : State::connected;
    attach(fd);
}

DWORD NamedPipeServer::connect() {
    std::unique_lock guard(mutex_);
    adopt_waiting_client();
    if (state_ == State::connected)
        return ERROR_PIPE_CONNECTED;
    if (state_ == State::closing)
        return ERROR_NO_DATA;
    if (nowait())
        return ERROR_PIPE_LISTENING;
    for (;;) {
        pollfd watch{listener_, POLLIN, 0};
        guard.unlock();
        ::poll(&watch, 1, -1);
        guard.lock();
        adopt_waiting_client();
        if (state_ == State::connected)
            return 0;
        if (state_ == State::closing)
            return ERROR_NO_DATA;
    }
}

DWORD NamedPipeServer::read(void* buffer, DWORD size, DWORD& transferred) {
    {
        std::lock_guard guard(mutex_);
        adopt_waiting_client();
    }
    return NamedPipeEnd::read(buffer, size, transferred);
}

DWORD NamedPipeServer::write(const void* buffer, DWORD size, DWORD& transferred) {
    {
        std::lock_guard guard(mutex_);
        adopt_waiting_client();
    }
    return NamedPipeEnd::write(buffer, size, transferred);
}

DWORD NamedPipeServer::flush() {
    {
        std::lock_guard guard(mutex_);
        adopt_waiting_client();
    }
    return NamedPipeEnd::flush();
}

DWORD NamedPipeServer::client_process_id(DWORD& process_id) {
    std::lock_guard guard(mutex_);
    adopt_waiting_client();
    if (state_ == State::listening)
        return ERROR_PIPE_LISTENING;
    process_id = client_pid_;
    return 0;
}

}  // namespace winsim
