#include "transport/chain_check.h"

#include <cstring>

namespace dvkc::transport {
namespace {

bool trusted_key(const ASN1_BIT_STRING *key, const STACK_OF(X509) * trusted) noexcept
{
    const int count = sk_X509_num(trusted);
    for (int i = 0; i < count; ++i) {
        if (same_key_bits(key, X509_get0_pubkey_bitstr(sk_X509_value(trusted, i)))) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool same_key_bits(const ASN1_BIT_STRING *a, const ASN1_BIT_STRING *b) noexcept
{
    if (a == nullptr || b == nullptr) {
        return false;
    }
    const int length = ASN1_STRING_length(a);
    if (length != ASN1_STRING_length(b)) {
        return false;
    }
    return length == 0 ||
           std::memcmp(ASN1_STRING_get0_data(a), ASN1_STRING_get0_data(b), static_cast<std::size_t>(length)) == 0;
}

std::int32_t check_chain_keys(STACK_OF(X509) * presented, const STACK_OF(X509) * trusted) noexcept
{
    if (presented == nullptr || sk_X509_num(presented) == 1) {
        return kChainPasses;
    }
    // Every issuer is examined, from the end of the chain back to position 2;
    // the server's own certificate is covered by the TLS verification.
    bool untrusted = false;
    for (int i = sk_X509_num(presented) - 1; i >= 1; --i) {
        if (!trusted_key(X509_get0_pubkey_bitstr(sk_X509_value(presented, i)), trusted)) {
            untrusted = true;
        }
    }
    return untrusted ? kIssuerKeyUntrusted : kChainPasses;
}

std::int32_t iVerifyServerChain(SSL *connection, const STACK_OF(X509) * trusted) noexcept
{
    return check_chain_keys(SSL_get_peer_cert_chain(connection), trusted);
}

}  // namespace dvkc::transport
