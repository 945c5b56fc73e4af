// IPv4 TCP sockets: open, connect, and single shutdown and close attempts.
#pragma once

#include <cstdint>

#include "socket_handle.h"  // SocketHandle and kNoSocket of this platform

namespace dvkc::platform {

// A blocking IPv4 stream socket that child processes do not inherit, or
// kNoSocket.
SocketHandle open_tcp_socket() noexcept;

// Connects to `address` (network byte order) and `port`; false on failure.
// A connect interrupted by a signal is waited for, not abandoned.
bool connect_ipv4(SocketHandle socket, std::uint32_t address, std::uint16_t port) noexcept;

// One shutdown of both directions; true on success.
bool shutdown_socket_once(SocketHandle socket) noexcept;

// One close; true when the socket has been released.
bool close_socket_once(SocketHandle socket) noexcept;

}  // namespace dvkc::platform
