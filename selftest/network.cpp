#include "selftest/network.h"

#include <utility>

#include "platform/wide_text.h"

#if QUARVEL_HAS_SOCKETS

namespace quarvel::selftest {
namespace {

sockaddr_in ipv4(const std::string& address, std::uint16_t port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr);
    return endpoint;
}

std::uint32_t last_socket_error() {
    return static_cast<std::uint32_t>(WSAGetLastError());
}

// A socket closed when it goes.
class OwnedSocket {
  public:
    explicit OwnedSocket(SOCKET socket) : socket_(socket) {}
    ~OwnedSocket() {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;
    SOCKET get() const { return socket_; }
    SOCKET release() { return std::exchange(socket_, INVALID_SOCKET); }
    bool valid() const { return socket_ != INVALID_SOCKET; }

  private:
    SOCKET socket_;
};

}  // namespace

SocketLibrary::SocketLibrary() {
    WSADATA data{};
    ready_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketLibrary::~SocketLibrary() {
    if (ready_)
        WSACleanup();
}

std::optional<Listener> Listener::open() {
    OwnedSocket listening(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listening.valid())
        return std::nullopt;
    sockaddr_in any = ipv4("0.0.0.0", 0);
    if (bind(listening.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
        listen(listening.get(), 16) != 0)
        return std::nullopt;
    sockaddr_in bound{};
    int length = sizeof bound;
    if (getsockname(listening.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return std::nullopt;
    return Listener(listening.release(), ntohs(bound.sin_port));
}

Listener::Listener(Listener&& other) noexcept
    : socket_(std::exchange(other.socket_, INVALID_SOCKET)), port_(other.port_) {}

Listener::~Listener() {
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
}

std::uint32_t try_connect(const std::string& address, std::uint16_t port,
                          std::uint32_t timeout_ms) {
    OwnedSocket connecting(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!connecting.valid())
        return last_socket_error();
    u_long non_blocking = 1;
    if (ioctlsocket(connecting.get(), FIONBIO, &non_blocking) != 0)
        return last_socket_error();
    const sockaddr_in endpoint = ipv4(address, port);
    if (connect(connecting.get(), reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) ==
        0)
        return 0;
    if (WSAGetLastError() != WSAEWOULDBLOCK)
        return last_socket_error();
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(connecting.get(), &writable);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(connecting.get(), &failed);
    timeval limit{static_cast<long>(timeout_ms / 1000),
                  static_cast<long>(timeout_ms % 1000) * 1000};
    const int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == 0)
        return WSAETIMEDOUT;
    if (ready < 0)
        return last_socket_error();
    int error = 0;
    int length = sizeof error;
    if (getsockopt(connecting.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                   &length) != 0)
        return last_socket_error();
    return static_cast<std::uint32_t>(error);
}

std::optional<std::string> own_outbound_address() {
    // Connecting a datagram socket only picks the route; nothing is sent.
    OwnedSocket probe(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!probe.valid())
        return std::nullopt;
    const sockaddr_in remote = ipv4("192.0.2.1", 9);  // TEST-NET-1: documentation only
    if (connect(probe.get(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0)
        return std::nullopt;
    sockaddr_in local{};
    int length = sizeof local;
    if (getsockname(probe.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &local.sin_addr, text, sizeof text) == nullptr)
        return std::nullopt;
    const std::string address(text);
    if (address == "0.0.0.0" || address.starts_with("127."))
        return std::nullopt;
    return address;
}

std::uint32_t try_lookup(const std::string& name) {
    addrinfoW* found = nullptr;
    const WideString wide = to_wide(name);
    const int result = GetAddrInfoW(wide.c_str(), nullptr, nullptr, &found);
    if (found != nullptr)
        FreeAddrInfoW(found);
    return static_cast<std::uint32_t>(result);
}

}  // namespace quarvel::selftest

#endif
