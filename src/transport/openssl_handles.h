// Owning handles for the OpenSSL objects of one exchange: each is freed with
// its own OpenSSL release function when the handle goes.
#pragma once

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace dvkc::transport {

template <typename T, void (*Release)(T *)>
struct OpenSslDeleter {
    void operator()(T *object) const noexcept { Release(object); }
};

inline void free_bio(BIO *bio)
{
    BIO_free(bio);  // BIO_free's result only says whether it was null
}

inline void free_openssl_text(char *text)
{
    OPENSSL_free(text);
}

inline void free_x509_info_list(STACK_OF(X509_INFO) * list)
{
    sk_X509_INFO_pop_free(list, X509_INFO_free);
}

using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslDeleter<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslDeleter<SSL, SSL_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO, free_bio>>;
using OpenSslText = std::unique_ptr<char, OpenSslDeleter<char, free_openssl_text>>;
using X509InfoListPtr = std::unique_ptr<STACK_OF(X509_INFO), OpenSslDeleter<STACK_OF(X509_INFO), free_x509_info_list>>;

}  // namespace dvkc::transport
