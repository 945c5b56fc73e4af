// The trust file of one exchange, loaded before any connection is made:
// read once, by the TLS library's own PEM reader, from a stream never
// inherited by a child process, and decoded once. It is accepted or refused
// exactly as the TLS library's own CA-file load would accept or refuse it,
// and the same certificates then serve the TLS verification and the chain
// check.
#pragma once

#include <openssl/x509.h>

#include <memory>

#include "transport/openssl_handles.h"

namespace dvkc::transport {

class TrustFile {
public:
    TrustFile() noexcept = default;
    TrustFile(const TrustFile &) = delete;
    TrustFile &operator=(const TrustFile &) = delete;
    ~TrustFile() = default;

    // Reads and decodes every entry of the PEM file at `path`; false when it
    // cannot be opened, an entry does not read or decode, or no entry holds a
    // certificate or a revocation list. Call once.
    bool load(const char *path) noexcept;

    // Adds every certificate and revocation list to `store`; after load().
    bool add_to(X509_STORE *store) const noexcept;

    // The certificates of the file in file order (other entries left out);
    // after load(). They belong to this object.
    const STACK_OF(X509) * certificates() const noexcept { return certificates_.get(); }

private:
    struct BorrowedCertificates {
        void operator()(STACK_OF(X509) * stack) const noexcept { sk_X509_free(stack); }
    };

    X509InfoListPtr entries_;
    std::unique_ptr<STACK_OF(X509), BorrowedCertificates> certificates_;
};

}  // namespace dvkc::transport
