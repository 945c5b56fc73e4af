// Owning handles for the OpenSSL objects `dvkc check` uses.
#pragma once

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace dvkc::tool {

template <typename T, void (*Free)(T *)>
struct OpenSslFree {
    void operator()(T *object) const noexcept { Free(object); }
};

using BioHandle = std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>>;
using SslCtxHandle = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;
using SslHandle = std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>>;
using StoreHandle = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE, X509_STORE_free>>;

inline void free_info_list(STACK_OF(X509_INFO) * list)
{
    sk_X509_INFO_pop_free(list, X509_INFO_free);
}
using InfoListHandle = std::unique_ptr<STACK_OF(X509_INFO), OpenSslFree<STACK_OF(X509_INFO), free_info_list>>;

}  // namespace dvkc::tool
