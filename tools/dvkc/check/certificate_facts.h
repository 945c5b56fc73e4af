// What `dvkc check` shows of one certificate, and the key the library
// compares.
#pragma once

#include <openssl/x509.h>

#include <string>

namespace dvkc::tool {

struct CertificateFacts {
    std::string subject;        // RFC 2253, e.g. "CN=dvkc sample server"
    std::string issuer;         //
    std::string not_before;     // "2026-12-09T00:56:00Z"
    std::string not_after;      //
    std::string key_type;       // "EC prime256v1", "RSA", "ED25519"
    int key_bits = 0;           //
    std::string key_sha256;     // SHA-256 of the DER SubjectPublicKeyInfo, lowercase hex
    std::string sha256;         // SHA-256 of the whole certificate (DER): which copy it is
    bool has_key_bits = false;  // the certificate has a subjectPublicKey BIT STRING
    std::string key_bits_raw;   // its bytes: the library's key identity
};

// The facts of `certificate`; fields OpenSSL cannot render stay empty.
CertificateFacts certificate_facts(X509 *certificate);

// The library's key rule: the same subjectPublicKey bytes (nothing else of
// the certificate counts).
inline bool same_key(const CertificateFacts &a, const CertificateFacts &b)
{
    return a.has_key_bits && b.has_key_bits && a.key_bits_raw == b.key_bits_raw;
}

}  // namespace dvkc::tool
