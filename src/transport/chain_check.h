// The server chain check: every certificate a server presents beyond its own
// must carry the public key of some certificate in the trust file.
#pragma once

#include <openssl/asn1.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>

namespace dvkc::transport {

// Results of the check.
// (The trust file is read and decoded before any connection is made, so
// this check never opens it and its results -1 and -2 of old cannot occur.)
inline constexpr std::int32_t kChainPasses = 0;
inline constexpr std::int32_t kIssuerKeyUntrusted = -3;

// Two subjectPublicKey BIT STRINGs name the same key when their contents have
// the same length and the same bytes. A null string matches nothing.
bool same_key_bits(const ASN1_BIT_STRING *a, const ASN1_BIT_STRING *b) noexcept;

// Checks `presented` (the server's own certificate first; may be null)
// against `trusted`, the certificates of the trust file in file order (its
// entries without a certificate, keys and revocation lists, match nothing).
// The chain is only read. No chain, or the server's certificate alone,
// passes; otherwise each certificate from position 2 on must share its key
// with a trusted certificate, or the result is -3.
std::int32_t check_chain_keys(STACK_OF(X509) * presented, const STACK_OF(X509) * trusted) noexcept;

// The check over the chain the server presented on `connection`.
std::int32_t iVerifyServerChain(SSL *connection, const STACK_OF(X509) * trusted) noexcept;

}  // namespace dvkc::transport
