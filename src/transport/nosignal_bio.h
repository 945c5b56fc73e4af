// A socket BIO over the platform's sends and receives, so that no write the
// TLS library makes on a connection the peer has closed (the request, or an
// alert in the handshake) raises SIGPIPE in the host process (on POSIX the
// sends use MSG_NOSIGNAL, which OpenSSL's own socket BIO cannot pass).
#pragma once

#include <openssl/bio.h>

#include "platform/tcp_socket.h"

namespace dvkc::transport {

// A new BIO over `socket`, or null. The BIO never closes the socket; its
// owner does. Reads and writes interrupted by a signal are resumed.
BIO *new_nosignal_socket_bio(platform::SocketHandle socket) noexcept;

}  // namespace dvkc::transport
