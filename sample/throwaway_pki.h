// Throwaway keys and certificates made at run time with OpenSSL (EC P-256),
// for the tests and for the command-line tool's sample service. Nothing
// made here is meant to outlive the process that made it.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tls_identity.h"

namespace dvkc::sample {

struct KeyDeleter {
    void operator()(EVP_PKEY *key) const noexcept;
};
struct CertificateDeleter {
    void operator()(X509 *certificate) const noexcept;
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using CertificatePtr = std::unique_ptr<X509, CertificateDeleter>;

// --- Building blocks (each throws std::runtime_error on failure) ---

KeyPtr generate_p256_key();

struct CertificateProfile {
    std::string common_name;
    bool is_ca = false;                 // CA: basicConstraints CA:TRUE, keyCertSign
    long not_before_offset = -3600;     // seconds from now
    long not_after_offset = 2 * 86400;  // seconds from now
    long serial = 1;
    std::vector<std::string> dns_names;     // subjectAltName DNS entries
    std::vector<std::string> ip_addresses;  // subjectAltName IP entries (dotted IPv4)
};

// Issues a certificate for `subject_key`, signed by `issuer_key`; with a null
// `issuer` it is self-signed (`issuer_key` must then be `subject_key`).
CertificatePtr issue_certificate(const CertificateProfile &profile, EVP_PKEY *subject_key, X509 *issuer,
                                 EVP_PKEY *issuer_key);

std::string certificate_pem(X509 *certificate);
std::string private_key_pem(EVP_PKEY *key);  // PKCS#8, unencrypted

// Every certificate of a PEM file, in file order (other entries skipped).
std::vector<CertificatePtr> load_certificates(const std::string &pem_file);

// --- The set the tests use ---

// Every path is a file inside the directory given to make_throwaway_pki().
struct ThrowawayPki {
    // Certificates and keys, one per file.
    std::string root_cert;                                // self-signed CA
    std::string intermediate_cert;                        // CA under root
    std::string leaf_cert, leaf_key;                      // server under intermediate: 127.0.0.1 and localhost
    std::string unrelated_ca_cert;                        // self-signed CA sharing nothing with root
    std::string unrelated_leaf_cert, unrelated_leaf_key;  // server under the unrelated CA
    std::string reissued_root_cert;                       // root's key under another name and validity
    std::string second_intermediate_cert;                 // CA under root with a fresh key
    std::string second_leaf_cert, second_leaf_key;        // server under the second intermediate

    // What a server presents (chain file, key file).
    TlsIdentity leaf_only;                  // leaf
    TlsIdentity leaf_intermediate;          // leaf, intermediate
    TlsIdentity full_chain;                 // leaf, intermediate, root
    TlsIdentity reissued_root_chain;        // leaf, intermediate, re-issued root
    TlsIdentity second_intermediate_chain;  // second leaf, second intermediate, root
    TlsIdentity unrelated_chain;            // unrelated leaf, unrelated CA

    // Trust files (client side).
    std::string trust_root;               // root
    std::string trust_root_intermediate;  // root, intermediate
    std::string trust_unrelated;          // unrelated CA
    std::string trust_key_first;          // a private key, then root and intermediate
    std::string trust_empty;              // an empty file
    std::string trust_not_pem;            // plain text without any PEM entry
};

// Generates every key and certificate above and writes them into `dir`
// (which must exist). Certificates are valid from an hour ago for two days.
ThrowawayPki make_throwaway_pki(const std::filesystem::path &dir);

}  // namespace dvkc::sample
