#include "transport/chain_check.h"

#include <openssl/pem.h>

#include <cstring>

#include "transport/openssl_handles.h"

namespace dvkc::transport {
namespace {

// Trust files are never encrypted: refuse any pass phrase prompt.
int no_pass_phrase(char *, int, int, void *)
{
    return 0;
}

bool trusted_key(const ASN1_BIT_STRING *key, const STACK_OF(X509_INFO) * entries) noexcept
{
    const int count = sk_X509_INFO_num(entries);
    for (int i = 0; i < count; ++i) {
        const X509_INFO *entry = sk_X509_INFO_value(entries, i);
        if (entry->x509 != nullptr && same_key_bits(key, X509_get0_pubkey_bitstr(entry->x509))) {
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

std::int32_t check_chain_keys(STACK_OF(X509) * presented, const char *trust_path) noexcept
{
    if (presented == nullptr) {
        return kChainPasses;
    }
    const int count = sk_X509_num(presented);
    if (count == 1) {
        return kChainPasses;
    }
    const BioPtr file(BIO_new_file(trust_path, "r"));
    if (!file) {
        return kTrustFileUnopenable;
    }
    const X509InfoListPtr entries(PEM_X509_INFO_read_bio(file.get(), nullptr, no_pass_phrase, nullptr));
    if (!entries) {
        return kTrustFileUnreadable;
    }
    // Every issuer is examined, from the end of the chain back to position 2;
    // the server's own certificate is covered by the TLS verification.
    bool untrusted = false;
    for (int i = count - 1; i >= 1; --i) {
        if (!trusted_key(X509_get0_pubkey_bitstr(sk_X509_value(presented, i)), entries.get())) {
            untrusted = true;
        }
    }
    return untrusted ? kIssuerKeyUntrusted : kChainPasses;
}

std::int32_t iVerifyServerChain(SSL *connection, const char *trust_path) noexcept
{
    return check_chain_keys(SSL_get_peer_cert_chain(connection), trust_path);
}

}  // namespace dvkc::transport
