// Single sends and receives on a connected socket, for the exchange's TLS
// connection. A send never raises SIGPIPE in the host process, and calls
// interrupted by a signal are resumed.
#pragma once

#include "platform/tcp_socket.h"

namespace dvkc::platform {

// Sends up to `size` bytes; returns how many were sent, or -1.
int send_some(SocketHandle socket, const char *data, int size) noexcept;

// Receives up to `size` bytes; returns how many were received, 0 when the
// peer has closed its side, or -1.
int receive_some(SocketHandle socket, char *data, int size) noexcept;

// Whether the last failed send or receive on this thread only asks to be
// tried again later (a non-blocking socket with nothing to do yet).
bool last_socket_error_is_retry() noexcept;

}  // namespace dvkc::platform
