// The request's TLS records leave in one send: sent one by one, each after
// the first would wait for the server's delayed acknowledgement (Nagle).
#pragma once

#include <openssl/ssl.h>

#include <cstddef>

namespace dvkc::transport {

// The bytes the TLS records of `plain_size` bytes of application data take on
// the wire at most, whatever suite the connection uses: a record holds at
// most 16384 plain bytes and adds at most the TLS library's own bound on a
// record's header and encryption overhead (a CBC suite's explicit IV, MAC and
// padding included); one record more covers a write split unevenly.
std::size_t request_records_size(std::size_t plain_size) noexcept;

// Puts a write buffer of request_records_size(plain_size) bytes in front of
// the socket BIO `socket_bio` of `connection`, so that one write of that
// much application data followed by a flush reaches the socket as one send.
// Without one (out of memory, or too large), the records go as they come.
void gather_request_records(SSL *connection, BIO *socket_bio, std::size_t plain_size) noexcept;

}  // namespace dvkc::transport
