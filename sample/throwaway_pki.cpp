#include "throwaway_pki.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <stdexcept>

namespace dvkc::sample {

void KeyDeleter::operator()(EVP_PKEY *key) const noexcept
{
    EVP_PKEY_free(key);
}

void CertificateDeleter::operator()(X509 *certificate) const noexcept
{
    X509_free(certificate);
}

namespace {

struct BioDeleter {
    void operator()(BIO *bio) const noexcept { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

struct ExtensionDeleter {
    void operator()(X509_EXTENSION *extension) const noexcept { X509_EXTENSION_free(extension); }
};

struct InfoListDeleter {
    void operator()(STACK_OF(X509_INFO) * list) const noexcept { sk_X509_INFO_pop_free(list, X509_INFO_free); }
};

[[noreturn]] void fail(const std::string &what)
{
    const unsigned long code = ERR_get_error();
    char reason[256] = "";
    if (code != 0) {
        ERR_error_string_n(code, reason, sizeof reason);
    }
    ERR_clear_error();
    throw std::runtime_error("throwaway PKI: " + what + (code != 0 ? std::string(": ") + reason : ""));
}

void add_extension(X509 *certificate, X509V3_CTX &context, int nid, const std::string &value)
{
    const std::unique_ptr<X509_EXTENSION, ExtensionDeleter> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1) {
        fail("extension " + value);
    }
}

void add_name_entry(X509_NAME *name, const char *field, const std::string &value)
{
    if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC, reinterpret_cast<const unsigned char *>(value.c_str()),
                                   -1, -1, 0) != 1) {
        fail(std::string("name entry ") + field);
    }
}

std::string alt_names(const CertificateProfile &profile)
{
    std::string names;
    for (const std::string &dns : profile.dns_names) {
        names += (names.empty() ? "" : ",") + std::string("DNS:") + dns;
    }
    for (const std::string &ip : profile.ip_addresses) {
        names += (names.empty() ? "" : ",") + std::string("IP:") + ip;
    }
    return names;
}

std::string memory_text(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

void write_text(const std::filesystem::path &file, const std::string &content)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("throwaway PKI: cannot write " + file.string());
    }
}

}  // namespace

KeyPtr generate_p256_key()
{
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) {
        fail("P-256 key generation");
    }
    return key;
}

CertificatePtr issue_certificate(const CertificateProfile &profile, EVP_PKEY *subject_key, X509 *issuer,
                                 EVP_PKEY *issuer_key)
{
    CertificatePtr certificate(X509_new());
    if (!certificate) {
        fail("X509_new");
    }
    X509 *cert = certificate.get();
    if (X509_set_version(cert, X509_VERSION_3) != 1 ||
        ASN1_INTEGER_set(X509_get_serialNumber(cert), profile.serial) != 1 ||
        X509_gmtime_adj(X509_getm_notBefore(cert), profile.not_before_offset) == nullptr ||
        X509_gmtime_adj(X509_getm_notAfter(cert), profile.not_after_offset) == nullptr ||
        X509_set_pubkey(cert, subject_key) != 1) {
        fail("certificate fields");
    }
    X509_NAME *subject = X509_get_subject_name(cert);
    add_name_entry(subject, "O", "DVKC throwaway");
    add_name_entry(subject, "CN", profile.common_name);
    if (X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer) : subject) != 1) {
        fail("issuer name");
    }

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer != nullptr ? issuer : cert, cert, nullptr, nullptr, 0);
    add_extension(cert, context, NID_subject_key_identifier, "hash");
    if (issuer != nullptr) {
        add_extension(cert, context, NID_authority_key_identifier, "keyid:always");
    }
    if (profile.is_ca) {
        add_extension(cert, context, NID_basic_constraints, "critical,CA:TRUE");
        add_extension(cert, context, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        add_extension(cert, context, NID_basic_constraints, "critical,CA:FALSE");
        add_extension(cert, context, NID_key_usage, "critical,digitalSignature");
        add_extension(cert, context, NID_ext_key_usage, "serverAuth");
    }
    if (const std::string names = alt_names(profile); !names.empty()) {
        add_extension(cert, context, NID_subject_alt_name, names);
    }
    if (X509_sign(cert, issuer_key, EVP_sha256()) <= 0) {
        fail("signing " + profile.common_name);
    }
    return certificate;
}

std::string certificate_pem(X509 *certificate)
{
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) {
        fail("certificate PEM");
    }
    return memory_text(bio.get());
}

std::string private_key_pem(EVP_PKEY *key)
{
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        fail("private key PEM");
    }
    return memory_text(bio.get());
}

std::vector<CertificatePtr> load_certificates(const std::string &pem_file)
{
    const BioPtr file(BIO_new_file(pem_file.c_str(), "r"));
    if (!file) {
        fail("cannot open " + pem_file);
    }
    const std::unique_ptr<STACK_OF(X509_INFO), InfoListDeleter> entries(
        PEM_X509_INFO_read_bio(file.get(), nullptr, nullptr, nullptr));
    if (!entries) {
        fail("cannot read " + pem_file);
    }
    std::vector<CertificatePtr> certificates;
    for (int i = 0; i < sk_X509_INFO_num(entries.get()); ++i) {
        X509 *certificate = sk_X509_INFO_value(entries.get(), i)->x509;
        if (certificate != nullptr && X509_up_ref(certificate) == 1) {
            certificates.emplace_back(certificate);
        }
    }
    return certificates;
}

ThrowawayPki make_throwaway_pki(const std::filesystem::path &dir)
{
    const KeyPtr root_key = generate_p256_key();
    const KeyPtr intermediate_key = generate_p256_key();
    const KeyPtr leaf_key = generate_p256_key();
    const KeyPtr unrelated_ca_key = generate_p256_key();
    const KeyPtr unrelated_leaf_key = generate_p256_key();
    const KeyPtr second_intermediate_key = generate_p256_key();
    const KeyPtr second_leaf_key = generate_p256_key();

    const auto ca = [](std::string name, long serial) {
        CertificateProfile profile;
        profile.common_name = std::move(name);
        profile.is_ca = true;
        profile.serial = serial;
        return profile;
    };
    const auto server = [](std::string name, long serial) {
        CertificateProfile profile;
        profile.common_name = std::move(name);
        profile.serial = serial;
        profile.dns_names = {"localhost"};
        profile.ip_addresses = {"127.0.0.1"};
        return profile;
    };

    const CertificatePtr root =
        issue_certificate(ca("DVKC Throwaway Root", 1), root_key.get(), nullptr, root_key.get());
    const CertificatePtr intermediate =
        issue_certificate(ca("DVKC Throwaway Intermediate", 2), intermediate_key.get(), root.get(), root_key.get());
    const CertificatePtr leaf =
        issue_certificate(server("127.0.0.1", 3), leaf_key.get(), intermediate.get(), intermediate_key.get());
    const CertificatePtr unrelated_ca =
        issue_certificate(ca("DVKC Unrelated CA", 4), unrelated_ca_key.get(), nullptr, unrelated_ca_key.get());
    const CertificatePtr unrelated_leaf =
        issue_certificate(server("127.0.0.1", 5), unrelated_leaf_key.get(), unrelated_ca.get(), unrelated_ca_key.get());
    CertificateProfile reissued = ca("DVKC Throwaway Root, re-issued", 6);
    reissued.not_before_offset = -7200;
    reissued.not_after_offset = 3 * 86400;
    const CertificatePtr reissued_root = issue_certificate(reissued, root_key.get(), nullptr, root_key.get());
    const CertificatePtr second_intermediate = issue_certificate(
        ca("DVKC Throwaway Intermediate 2", 7), second_intermediate_key.get(), root.get(), root_key.get());
    const CertificatePtr second_leaf = issue_certificate(server("127.0.0.1", 8), second_leaf_key.get(),
                                                         second_intermediate.get(), second_intermediate_key.get());

    const std::string root_pem = certificate_pem(root.get());
    const std::string intermediate_pem = certificate_pem(intermediate.get());
    const std::string leaf_pem = certificate_pem(leaf.get());
    const std::string unrelated_ca_pem = certificate_pem(unrelated_ca.get());
    const std::string unrelated_leaf_pem = certificate_pem(unrelated_leaf.get());
    const std::string reissued_root_pem = certificate_pem(reissued_root.get());
    const std::string second_intermediate_pem = certificate_pem(second_intermediate.get());
    const std::string second_leaf_pem = certificate_pem(second_leaf.get());

    ThrowawayPki pki;
    const auto file = [&dir](const char *name, const std::string &content) {
        const std::filesystem::path path = dir / name;
        write_text(path, content);
        return path.string();
    };
    pki.root_cert = file("root.pem", root_pem);
    pki.intermediate_cert = file("intermediate.pem", intermediate_pem);
    pki.leaf_cert = file("leaf.pem", leaf_pem);
    pki.leaf_key = file("leaf.key", private_key_pem(leaf_key.get()));
    pki.unrelated_ca_cert = file("unrelated-ca.pem", unrelated_ca_pem);
    pki.unrelated_leaf_cert = file("unrelated-leaf.pem", unrelated_leaf_pem);
    pki.unrelated_leaf_key = file("unrelated-leaf.key", private_key_pem(unrelated_leaf_key.get()));
    pki.reissued_root_cert = file("reissued-root.pem", reissued_root_pem);
    pki.second_intermediate_cert = file("second-intermediate.pem", second_intermediate_pem);
    pki.second_leaf_cert = file("second-leaf.pem", second_leaf_pem);
    pki.second_leaf_key = file("second-leaf.key", private_key_pem(second_leaf_key.get()));

    pki.leaf_only = {pki.leaf_cert, pki.leaf_key};
    pki.leaf_intermediate = {file("chain-leaf-intermediate.pem", leaf_pem + intermediate_pem), pki.leaf_key};
    pki.full_chain = {file("chain-full.pem", leaf_pem + intermediate_pem + root_pem), pki.leaf_key};
    pki.reissued_root_chain = {file("chain-reissued-root.pem", leaf_pem + intermediate_pem + reissued_root_pem),
                               pki.leaf_key};
    pki.second_intermediate_chain = {
        file("chain-second-intermediate.pem", second_leaf_pem + second_intermediate_pem + root_pem),
        pki.second_leaf_key};
    pki.unrelated_chain = {file("chain-unrelated.pem", unrelated_leaf_pem + unrelated_ca_pem), pki.unrelated_leaf_key};

    pki.trust_root = file("trust-root.pem", root_pem);
    pki.trust_root_intermediate = file("trust-root-intermediate.pem", root_pem + intermediate_pem);
    pki.trust_unrelated = file("trust-unrelated.pem", unrelated_ca_pem);
    pki.trust_key_first =
        file("trust-key-first.pem", private_key_pem(unrelated_leaf_key.get()) + root_pem + intermediate_pem);
    pki.trust_empty = file("trust-empty.pem", "");
    pki.trust_not_pem = file("trust-not-pem.txt", "This is a list of trusted servers, not a PEM file.\n");
    return pki;
}

}  // namespace dvkc::sample
