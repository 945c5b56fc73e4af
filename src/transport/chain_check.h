// The server chain check: every certificate a server presents beyond its own
// must carry the public key of some certificate in the trust file.
#pragma once

#include <openssl/asn1.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>

namespace dvkc::transport {

// Results of the check.
inline constexpr std::int32_t kChainPasses = 0;
inline constexpr std::int32_t kTrustFileUnopenable = -1;
inline constexpr std::int32_t kTrustFileUnreadable = -2;
inline constexpr std::int32_t kIssuerKeyUntrusted = -3;

// Two subjectPublicKey BIT STRINGs name the same key when their contents have
// the same length and the same bytes. A null string matches nothing.
bool same_key_bits(const ASN1_BIT_STRING *a, const ASN1_BIT_STRING *b) noexcept;

// Checks `presented` (the server's own certificate first; may be null)
// against the PEM trust file at `trust_path`. The chain is only read.
// - no chain, or the server's certificate alone: passes, the file unopened;
// - otherwise the file is opened (-1 if it cannot be) and every PEM entry
//   read (-2 if that fails); each certificate from position 2 on must share
//   its key with a certificate of the file, or the result is -3. Entries
//   without a certificate (keys, revocation lists) match nothing.
std::int32_t check_chain_keys(STACK_OF(X509) * presented, const char *trust_path) noexcept;

// The same check against certificates already read from the trust file
// (`trusted`, in file order): the file is not opened, so the result is 0 or -3.
std::int32_t check_chain_keys(STACK_OF(X509) * presented, const STACK_OF(X509) * trusted) noexcept;

// The check over the chain the server presented on `connection`.
std::int32_t iVerifyServerChain(SSL *connection, const char *trust_path) noexcept;
std::int32_t iVerifyServerChain(SSL *connection, const STACK_OF(X509) * trusted) noexcept;

}  // namespace dvkc::transport
