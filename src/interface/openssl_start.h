// Starting OpenSSL for the library, the same way from every entry point.
#pragma once

namespace dvkc {

enum class OpenSslPart {
    crypto,  // digests and the error queue
    tls,     // the above and libssl, with its error strings
};

// Starts OpenSSL (again a no-op once started) without loading any
// configuration: no OPENSSL_CONF, no openssl.cnf under the OPENSSLDIR that
// OpenSSL was built with. This must come before any other OpenSSL call of an
// entry point, since OpenSSL loads its configuration on the first call that
// starts it without saying otherwise, and then once per process.
//
// Returns false when OpenSSL cannot be used: it has been cleaned up (at exit,
// through the atexit handler it registers when first used, or by the host's
// OPENSSL_cleanup()), after which no OpenSSL function may be called, or it
// could not allocate its own state.
bool start_openssl(OpenSslPart part) noexcept;

}  // namespace dvkc
