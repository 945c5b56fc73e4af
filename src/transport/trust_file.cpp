#include "transport/trust_file.h"

#include <openssl/pem.h>

#include <cstdio>

#include "platform/read_only_file.h"

namespace dvkc::transport {

bool TrustFile::load(const char *path) noexcept
{
    std::FILE *file = platform::open_for_reading(path);
    if (file == nullptr) {
        return false;
    }
    // The mode the TLS library's own file BIO gives a CA file it opens with
    // "r": text on Windows, where the flag matters; the BIO closes the file.
    const BioPtr bio(BIO_new_fp(file, BIO_CLOSE | BIO_FP_TEXT));
    if (!bio) {
        static_cast<void>(std::fclose(file));  // read only: a failed close loses nothing
        return false;
    }
    // As the CA-file load calls it: no pass phrase callback, an empty pass phrase.
    char no_pass_phrase[] = "";
    entries_.reset(PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, no_pass_phrase));
    certificates_.reset(sk_X509_new_null());
    if (!entries_ || !certificates_) {
        return false;
    }
    int loadable = 0;
    for (int i = 0; i < sk_X509_INFO_num(entries_.get()); ++i) {
        const X509_INFO *entry = sk_X509_INFO_value(entries_.get(), i);
        if (entry->x509 != nullptr && sk_X509_push(certificates_.get(), entry->x509) == 0) {
            return false;
        }
        loadable += (entry->x509 != nullptr ? 1 : 0) + (entry->crl != nullptr ? 1 : 0);
    }
    return loadable > 0;
}

bool TrustFile::add_to(X509_STORE *store) const noexcept
{
    if (!entries_) {
        return false;
    }
    for (int i = 0; i < sk_X509_INFO_num(entries_.get()); ++i) {
        const X509_INFO *entry = sk_X509_INFO_value(entries_.get(), i);
        if ((entry->x509 != nullptr && X509_STORE_add_cert(store, entry->x509) != 1) ||
            (entry->crl != nullptr && X509_STORE_add_crl(store, entry->crl) != 1)) {
            return false;
        }
    }
    return true;
}

}  // namespace dvkc::transport
