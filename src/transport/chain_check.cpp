#include "transport/chain_check.h"

#include <openssl/pem.h>

#include <cstring>
#include <memory>

#include "transport/openssl_handles.h"

namespace dvkc::transport {
namespace {

// Trust files are never encrypted: refuse any pass phrase prompt.
int no_pass_phrase(char *, int, int, void *)
{
    return 0;
}

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

// A stack of certificates that belong to someone else: freed, not they.
struct BorrowedStackDeleter {
    void operator()(STACK_OF(X509) * stack) const noexcept { sk_X509_free(stack); }
};

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
    // Entries without a certificate (keys, revocation lists) match nothing.
    const std::unique_ptr<STACK_OF(X509), BorrowedStackDeleter> trusted(sk_X509_new_null());
    if (!trusted) {
        return kTrustFileUnreadable;
    }
    for (int i = 0; i < sk_X509_INFO_num(entries.get()); ++i) {
        X509 *certificate = sk_X509_INFO_value(entries.get(), i)->x509;
        if (certificate != nullptr && sk_X509_push(trusted.get(), certificate) == 0) {
            return kTrustFileUnreadable;
        }
    }
    return check_chain_keys(presented, trusted.get());
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

std::int32_t iVerifyServerChain(SSL *connection, const char *trust_path) noexcept
{
    return check_chain_keys(SSL_get_peer_cert_chain(connection), trust_path);
}

std::int32_t iVerifyServerChain(SSL *connection, const STACK_OF(X509) * trusted) noexcept
{
    return check_chain_keys(SSL_get_peer_cert_chain(connection), trusted);
}

}  // namespace dvkc::transport
