// A socket BIO that sends with MSG_NOSIGNAL, so that no write the TLS library
// makes on a connection the peer has closed (the request, or an alert in the
// handshake) raises SIGPIPE in the host process. OpenSSL's own socket BIO
// cannot pass send flags.
#pragma once

#include <openssl/bio.h>

namespace dvkc::transport {

// A new BIO over `fd`, or null. The BIO never closes the descriptor; its
// owner does. Reads and writes interrupted by a signal are resumed.
BIO *new_nosignal_socket_bio(int fd) noexcept;

}  // namespace dvkc::transport
