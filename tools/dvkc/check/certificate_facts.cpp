#include "check/certificate_facts.h"

#include <openssl/asn1.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <memory>

#include "check/check_openssl.h"

namespace dvkc::tool {
namespace {

struct OpenSslBytesFree {
    void operator()(unsigned char *bytes) const noexcept { OPENSSL_free(bytes); }
};

std::string name_text(const X509_NAME *name)
{
    const BioHandle bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
        return {};
    }
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string time_text(const ASN1_TIME *time)
{
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) {
        return {};
    }
    std::array<char, 32> text{};
    if (std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        return {};
    }
    return text.data();
}

std::string key_type(EVP_PKEY *key)
{
    const char *type = EVP_PKEY_get0_type_name(key);
    std::string text = type != nullptr ? type : "unknown";
    std::array<char, 80> group{};
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group.data(), group.size(), nullptr) == 1) {
        text.append(" ").append(group.data());
    }
    return text;
}

// The SHA-256 of `size` DER bytes (OpenSSL's, freed here), lowercase hex.
std::string der_digest(unsigned char *der, int size)
{
    if (size <= 0) {
        return {};
    }
    const std::unique_ptr<unsigned char, OpenSslBytesFree> owned(der);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digest_size = 0;
    if (EVP_Digest(der, static_cast<std::size_t>(size), digest.data(), &digest_size, EVP_sha256(), nullptr) != 1) {
        return {};
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < digest_size; ++i) {
        text += hex[digest[i] >> 4U];
        text += hex[digest[i] & 15U];
    }
    return text;
}

}  // namespace

CertificateFacts certificate_facts(X509 *certificate)
{
    CertificateFacts facts;
    facts.subject = name_text(X509_get_subject_name(certificate));
    facts.issuer = name_text(X509_get_issuer_name(certificate));
    facts.not_before = time_text(X509_get0_notBefore(certificate));
    facts.not_after = time_text(X509_get0_notAfter(certificate));
    if (EVP_PKEY *key = X509_get0_pubkey(certificate); key != nullptr) {
        facts.key_type = key_type(key);
        facts.key_bits = EVP_PKEY_get_bits(key);
    }
    unsigned char *key_der = nullptr;
    const int key_size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &key_der);
    facts.key_sha256 = der_digest(key_der, key_size);
    unsigned char *der = nullptr;
    const int size = i2d_X509(certificate, &der);
    facts.sha256 = der_digest(der, size);
    if (const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(certificate); bits != nullptr) {
        facts.has_key_bits = true;
        facts.key_bits_raw.assign(reinterpret_cast<const char *>(ASN1_STRING_get0_data(bits)),
                                  static_cast<std::size_t>(ASN1_STRING_length(bits)));
    }
    return facts;
}

}  // namespace dvkc::tool
