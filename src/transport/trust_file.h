// The trust file of one exchange: read once, into memory, and decoded once;
// the same certificates serve the TLS verification and the chain check.
//
// Reading is split in two so that the costly part can wait for a moment when
// the call would wait anyway:
// - read() takes the file whole (never inherited by a child process) and checks its PEM framing: every
//   entry well formed and at least one certificate or revocation list. This
//   is all that is needed to tell, before connecting, whether the TLS
//   library would load the file at all.
// - decode() turns the entries into certificates and revocation lists, as
//   the TLS library's own PEM loading would, and fails where it would fail
//   (a certificate whose body does not decode, for one).
#pragma once

#include <openssl/x509.h>

#include <cstddef>
#include <memory>

#include "interface/text_buffer.h"

namespace dvkc::transport {

class TrustFile {
public:
    TrustFile() noexcept = default;
    TrustFile(const TrustFile &) = delete;
    TrustFile &operator=(const TrustFile &) = delete;
    ~TrustFile();

    // Reads the file whole and checks its framing; false when it cannot be
    // opened or read, an entry is malformed, or no entry holds a
    // certificate or a revocation list.
    bool read(const char *path) noexcept;

    // Decodes every entry; only the first call does the work, later calls
    // give its outcome. Requires a successful read().
    bool decode() noexcept;

    // Adds every certificate and revocation list to `store`; after decode().
    bool add_to(X509_STORE *store) const noexcept;

    // The certificates of the file in file order (other entries left out);
    // after decode().
    const STACK_OF(X509) * certificates() const noexcept { return certificates_; }

private:
    enum class Outcome { pending, decoded, failed };

    bool decode_certificates() noexcept;
    bool decode_any_entries() noexcept;

    std::unique_ptr<char, FreeDeleter> text_;
    std::size_t size_ = 0;
    bool certificates_only_ = false;  // every entry a plain certificate: decoded directly
    Outcome decode_outcome_ = Outcome::pending;
    STACK_OF(X509) *certificates_ = nullptr;
    STACK_OF(X509_CRL) *revocation_lists_ = nullptr;
};

}  // namespace dvkc::transport
