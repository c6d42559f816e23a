#pragma once
// The little networking the self-test does: a listener the sandboxed command tries to reach,
// the machine's own non-loopback address, connection attempts and a name lookup. Only where
// the platform has sockets; the simulated host has none.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/win32.h"

#if QUARVEL_HAS_SOCKETS

namespace quarvel::selftest {

// Windows Sockets for the life of the object (WSAStartup and WSACleanup).
class SocketLibrary {
  public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;
    bool ready() const { return ready_; }

  private:
    bool ready_ = false;
};

// A TCP listener on every IPv4 address of the machine, on a port the system picks. Connections
// are left in its backlog: a completed connect is all a check needs.
class Listener {
  public:
    static std::optional<Listener> open();
    Listener(Listener&& other) noexcept;
    Listener& operator=(Listener&&) = delete;
    Listener(const Listener&) = delete;
    ~Listener();
    std::uint16_t port() const { return port_; }

  private:
    Listener(SOCKET socket, std::uint16_t port) : socket_(socket), port_(port) {}
    SOCKET socket_;
    std::uint16_t port_;
};

// 0 when a TCP connection to the IPv4 address and port completed within the time, else the
// Windows Sockets error (WSAETIMEDOUT when it did not complete in time).
std::uint32_t try_connect(const std::string& address, std::uint16_t port, std::uint32_t timeout_ms);

// The IPv4 address this machine would use towards the internet, found without sending
// anything; none when it has no route there.
std::optional<std::string> own_outbound_address();

// 0 when the name resolved, else the error getaddrinfo gave.
std::uint32_t try_lookup(const std::string& name);

}  // namespace quarvel::selftest

#endif
